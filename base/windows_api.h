// <windows.h> as every Windows source of the project takes it: without the
// rarely used parts and without the min and max macros.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The operator interface of the core has a MessageBox of its own; the API is
// called by its wide name, MessageBoxW.
#ifdef MessageBox
#undef MessageBox
#endif
