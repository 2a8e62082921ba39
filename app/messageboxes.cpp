// The main window's message boxes: the error boxes that code without widgets opens through the
// box seam (platform/messagebox.h), without waiting, and the one question that waits, before the
// window closes.
#include "app/messageboxes.h"

#include <QMessageBox>

#include "app/tmainform.h"
#include "app/widgets.h"
#include "platform/messagebox.h"

namespace {

// A box's text with a break opportunity (a zero-width space) after every '/' and within every
// long run without one, so that a long path wraps inside the box instead of widening it past the
// screen or being cut.
QString WrappableText(const char* text) {
  const QString plain = BytesToText(text);
  QString wrapped;
  wrapped.reserve(plain.size() + plain.size() / 8);
  int run = 0;
  for (const QChar c : plain) {
    wrapped += c;
    run = c.isSpace() ? 0 : run + 1;
    if (c == QLatin1Char('/') || run >= 24) {
      wrapped += QChar(0x200B);
      run = 0;
    }
  }
  return wrapped;
}

QMessageBox* NewBox(const char* text, const char* caption, QMessageBox::StandardButtons buttons) {
  auto* box = new QMessageBox(QMessageBox::Critical, BytesToText(caption), WrappableText(text), buttons, MainForm);
  box->setWindowModality(Qt::WindowModal);
  return box;
}

// The error boxes of code without widgets: modal to the main window, with an error icon, opened
// without waiting. Its closed handler runs when the box is closed, then the window shows what
// the handler changed.
void MainFormMessageBox(const char* text, const char* caption, BoxClosed closed) {
  QMessageBox* box = NewBox(text, caption, QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(box, &QMessageBox::finished, box, [closed] {
    if (closed != nullptr) closed();
    if (MainForm != nullptr) MainForm->ApplyView();
  });
  box->open();
}

// The close question waits for its answer: the window closes, or not, on it.
bool MainFormQuestion(const char* text, const char* caption) {
  QMessageBox* box = NewBox(text, caption, QMessageBox::Ok | QMessageBox::Cancel);
  const bool ok = box->exec() == QMessageBox::Ok;
  delete box;
  return ok;
}

}  // namespace

void InstallMainFormBoxes() {
  MessageBoxHook = MainFormMessageBox;
  QuestionHook = MainFormQuestion;
}

void RemoveMainFormBoxes() {
  if (MessageBoxHook == MainFormMessageBox) MessageBoxHook = MessageBoxToStderr;
  if (QuestionHook == MainFormQuestion) QuestionHook = QuestionToStderr;
}
