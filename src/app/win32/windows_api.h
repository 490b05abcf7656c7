#pragma once

// windows.h for the window host. Its MessageBox macro would rename DialogWindow::MessageBox to
// MessageBoxA in every file that sees it; the host calls MessageBoxA by name instead.
#include <windows.h>
#undef MessageBox
