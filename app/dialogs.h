// What the main window calls of the configuration, about and splash windows.
//
// The three windows are program-wide instances (SplashForm, AboutForm, ConfigForm), created once
// after the main window and kept, only shown and hidden, until the program ends.
#pragma once
#include <QString>

class QWidget;

// Put into the version labels of the splash and about windows each time they open.
inline constexpr char VersionText[] = "Version 0.5";

// Resources of this library: the window icon and the two pictures.
inline constexpr char WindowIconResource[] = ":/dialogs/sonivert.svg";
inline constexpr char SplashPictureResource[] = ":/dialogs/splash.svg";
inline constexpr char AboutPictureResource[] = ":/dialogs/about.svg";

// Start-up, right after the main window is constructed: creates the splash, about and
// configuration windows in this order, owned by mainForm (may be null), and makes the drawn
// icon the icon of every window. False with error filled when a picture cannot be read; the
// caller shows error in a box and ends the program.
bool CreateDialogWindows(QWidget* mainForm, QString& error);

// The main window's FormShow: sets the splash's version label, starts its timer and shows it
// modally. Returns when the splash has closed itself (26th tick of the first showing, first
// tick of any later one). Call it once the main window is on screen, for instance from a
// zero-delay timer queued by the main window's show event, not from inside that event.
void ShowSplash();

// The main window's "About" button: sets the version label and shows the about window modally.
void AboutBTClick();

// The main window's "Configuration" button: fills the dialog from AppSettings and shows it
// modally. Any end of the dialog but a saved OK leaves AppSettings as they were.
void ConfigBTClick();
// The dialog's OK: copies its choices into AppSettings and saves them, then closes the dialog. A
// store another program is saving is tried again meanwhile; one that cannot be written is
// reported in a box over the dialog, which stays open (OK tries again, Cancel gives up).
void ConfigOkBTClick();
