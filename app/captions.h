// The gradient captions of Sonivert's windows: which colours, fonts and caption buttons each of
// them gets. The caption bar itself (decor/) knows none of our windows.
#pragma once
#include "decor/heliocaption.h"

class QWidget;

enum class SonivertCaption { Main, Configure, About };

// Creates the caption of the given kind on a window, with its colours, fonts and buttons.
HelioCaptionCreation AttachSonivertCaption(QWidget* window, SonivertCaption which);

// The same for the windows' constructors: when the caption cannot be made, a box says why and the
// result is null, and the window keeps its plain title bar.
THelioCaption* AttachCaptionOrSay(QWidget* window, SonivertCaption which);
