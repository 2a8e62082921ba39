// A dark palette for looking at the windows the way a user of a dark desktop theme sees them:
// nothing may be drawn in a colour of its own that would vanish on it.
#pragma once
#include <QColor>
#include <QPalette>

inline QPalette DarkPalette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(45, 45, 48));
  p.setColor(QPalette::WindowText, QColor(220, 220, 220));
  p.setColor(QPalette::Button, QColor(60, 60, 64));
  p.setColor(QPalette::ButtonText, QColor(220, 220, 220));
  p.setColor(QPalette::Base, QColor(30, 30, 30));
  p.setColor(QPalette::Text, QColor(220, 220, 220));
  p.setColor(QPalette::Light, QColor(90, 90, 96));
  p.setColor(QPalette::Midlight, QColor(75, 75, 80));
  p.setColor(QPalette::Dark, QColor(25, 25, 25));
  p.setColor(QPalette::Mid, QColor(40, 40, 40));
  p.setColor(QPalette::Shadow, QColor(0, 0, 0));
  for (QPalette::ColorRole role : {QPalette::ButtonText, QPalette::Text, QPalette::WindowText})
    p.setColor(QPalette::Disabled, role, QColor(120, 120, 120));
  return p;
}
