// Every X header the backend uses, behind one quoted include. Xlib defines
// Status (and Bool, True, False) as macros, so the project's own Status must
// be declared before any X header is read; including X headers only through
// this file keeps that order whatever the include sorting does.
#pragma once

// clang-format off
#include "base/result.h"

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xrandr.h>
// clang-format on
