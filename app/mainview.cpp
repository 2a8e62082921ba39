// How the main window shows the scheduler's record (View) and the converter's switch: the
// Start/Stop look, the job displays, the status line shortened in its path only, the information
// line in a font that fits it, the queue and current lines.
#include <QFontMetrics>
#include <QIcon>
#include <QSignalBlocker>

#include "app/widgets.h"
#include "app/scheduler.h"
#include "app/tmainform.h"
#include "ui_tmainform.h"

void TMainForm::ApplyStartLook() {
  // The look follows the converter's one switch. It changes only with that switch: every tick
  // building the icon anew would render its picture each time.
  const bool stop = Converter.SubmissionActive;
  if (StopLookApplied != (stop ? 1 : 0)) {
    StopLookApplied = stop ? 1 : 0;
    ui->StartBT->setText(stop ? QStringLiteral("Stop") : QStringLiteral("Start"));
    ui->StartBT->setToolTip(stop ? QStringLiteral("Deactivate converter")
                                 : QStringLiteral("Activate converter"));
    ui->StartBT->setIcon(
        QIcon(stop ? QStringLiteral(":/glyphs/stop.svg") : QStringLiteral(":/glyphs/start.svg")));
  }
}

void TMainForm::ApplyView() {
  ApplyStartLook();
  ui->AbortBT->setEnabled(View.JobRunning);
  ui->QueueFileP->setText(BytesToText(View.QueueCounter));
  ui->StatusP->setText(FitStatusLine());
  ui->TimeP->setText(BytesToText(View.TimeText));
  ui->PercentP->setText(BytesToText(View.PercentText));
  ui->ProgressBar->setValue(static_cast<int>(View.Progress));
  if (ui->PriorityTB->value() != PriorityPosition) {
    const QSignalBlocker quiet(ui->PriorityTB);  // the priority the job really has, not a new choice
    ui->PriorityTB->setValue(PriorityPosition);
  }
  const bool hints = View.JobRunning;
  ui->CurrentLB->setToolTip(hints ? QString::fromLatin1(View.CurrentHint) : QString());
  ui->TimeP->setToolTip(hints ? QStringLiteral("Time remaining") : QString());
  ui->PercentP->setToolTip(hints ? QStringLiteral("Percent complete") : QString());
  ui->ProgressBar->setToolTip(hints ? QStringLiteral("Progress") : QString());

  for (; HeadLinesApplied != View.HeadLinesTaken; ++HeadLinesApplied) {
    if (ui->JobLB->count() > 0) delete ui->JobLB->takeItem(0);
  }
  if (!View.HasCurrentLine) {
    ui->CurrentLB->clear();
  } else {
    if (ui->CurrentLB->count() != 1) {
      ui->CurrentLB->clear();
      ui->CurrentLB->addItem(QString());
    }
    QListWidgetItem* item = ui->CurrentLB->item(0);
    const QString line = BytesToText(View.CurrentLine);
    if (item->text() != line) item->setText(line);
    item->setSelected(View.CurrentSelected);
  }
  if (FileListRereadsApplied != View.FileListRereads) {
    FileListRereadsApplied = View.FileListRereads;
    ReadFileList();
  }
}

QString TMainForm::FitStatusLine() const {
  // A long path would push the layer and bitrate out of sight: only the path gives way, in its
  // middle; the words around it stay whole.
  const std::string& line = View.StatusLine;
  const QFontMetrics metrics = ui->StatusP->fontMetrics();
  const int room = ui->StatusP->contentsRect().width() - 4;
  const QString whole = BytesToText(line);
  if (metrics.horizontalAdvance(whole) <= room) return whole;
  const size_t begin = View.StatusPathBegin, end = View.StatusPathEnd;
  if (begin >= end || end > line.size()) return metrics.elidedText(whole, Qt::ElideRight, room);
  const QString before = BytesToText(line.substr(0, begin));
  const QString path = BytesToText(line.substr(begin, end - begin));
  const QString after = BytesToText(line.substr(end));
  const int pathRoom = room - metrics.horizontalAdvance(before + after);
  return before + metrics.elidedText(path, Qt::ElideMiddle, qMax(pathRoom, 0)) + after;
}

void TMainForm::ShowInfoLine(const QString& text) {
  if (ui->WavInfoP->text() == text) return;
  // The whole line is shown: where the panel's font is too wide for it ("Joint stereo" with a
  // rate and a bitrate of three digits), the font gives way, not the text.
  QFont font = InfoFont;
  const int room = ui->WavInfoP->contentsRect().width() - 2 * ui->WavInfoP->margin() - 2;
  while (QFontMetrics(font).horizontalAdvance(text) > room && font.pointSizeF() > 5.0)
    font.setPointSizeF(font.pointSizeF() - 0.5);
  ui->WavInfoP->setFont(font);
  ui->WavInfoP->setText(text);
}
