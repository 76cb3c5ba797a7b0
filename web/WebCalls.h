#pragma once

#include "HttpServer.h"

namespace tova {

// The call log for the page, from the journal the desktop program writes: one page of calls as
// JSON (GET /api/calls) and a note written (POST /api/note). The journal is asked on its own
// thread; a journal that another program holds gives 503.
HttpResponse callLogPage(const HttpRequest& request);
HttpResponse saveNote(const HttpRequest& request);

// Starts the journal's thread; on the thread that runs the application, before any request.
void openJournal();

} // namespace tova
