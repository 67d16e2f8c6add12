// The one platform step of the module: ask the window of a view not to
// activate the application. It lives behind this header so the Node-API side
// is the same code everywhere; only Apple has windows to ask.
#pragma once

// `view` is the address of a live view object of this process, as the host
// handed it over; null is allowed and answers false. Answers true only when
// the request was actually sent to the view's window.
bool preventActivation(void* view);
