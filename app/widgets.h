// Small helpers the windows share: paths and other bytes shown as text, pictures rendered from
// the resources, and placing a window or a version label.
#pragma once
#include <QPixmap>
#include <QSize>
#include <QString>
#include <string>

class QLabel;
class QWidget;

// Puts a version label in the top right corner of a window that is windowWidth pixels wide, 6
// pixels in: 114 by 18 pixels, or more where a larger font would otherwise cut its text.
void PlaceVersionLabel(QLabel* label, int windowWidth);

// Moves a window to the centre of the available area of the screen it is on.
void CentreOnScreen(QWidget* window);

// Paths are bytes on Linux: the windows show them, and any other bytes text, decoded the way the
// file system layer does, and turn what a widget holds back into bytes the same way.
QString BytesToText(const std::string& bytes);
std::string TextToBytes(const QString& text);

// Renders an SVG resource at size (logical pixels) for a screen of the given pixel ratio. A
// null pixmap when the resource cannot be read.
QPixmap RenderPicture(const char* resource, QSize size, qreal pixelRatio);
