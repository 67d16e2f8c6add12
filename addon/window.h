// The one platform step of the module: ask a window not to activate the
// application. It lives behind this header so the Node-API side is the same
// code everywhere; Apple and Linux (X11) have windows to ask.
#pragma once

// `view` is the handle as the host handed it over: on Apple the address of a
// live view object of this process, on Linux an X11 window id. Null is
// allowed and answers false. Answers true only when the request was actually
// made of the window.
bool preventActivation(void* view);
