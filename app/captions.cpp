#include "app/captions.h"

#include "platform/messagebox.h"

HelioCaptionCreation AttachSonivertCaption(QWidget* window, SonivertCaption which) {
  HelioCaptionCreation created = CreateHelioCaption(window);
  if (!created.Caption) return created;
  HelioCaptionProperties p = created.Caption->Properties();
  p.ActiveBeginColor = QColor(128, 0, 0);  // maroon
  p.ActiveEndColor = QColor(0, 0, 128);    // navy
  if (which == SonivertCaption::Main) {
    p.CaptionFont.setBold(true);
    p.BorderStyle = HelioBorderStyle::Single;
    p.BorderIcons = {true, true, false, false};  // fixed size: maximize is shown disabled
  } else {
    // Small tool frames without caption buttons: only the gradient and the caption text.
    p.BorderStyle = HelioBorderStyle::ToolWindow;
    p.BorderIcons = {false, false, false, false};
  }
  created.Caption->SetProperties(p);
  return created;
}

THelioCaption* AttachCaptionOrSay(QWidget* window, SonivertCaption which) {
  const HelioCaptionCreation caption = AttachSonivertCaption(window, which);
  // The reason is a sentence of the caption's own, never a path: plain text in the locale's
  // encoding, which the box decodes back.
  if (caption.Caption == nullptr) ShowMessageBox(caption.Error.toLocal8Bit().constData(), "Sonivert");
  return caption.Caption;
}
