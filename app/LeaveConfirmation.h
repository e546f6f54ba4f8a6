#pragma once

namespace ov {

// The leave confirmation every quit the user asks for goes through (the quit
// command, the window's close and cancel buttons, "QuitOVDownloader"): a
// modal warning with IDS_LEAVEAPP and the buttons No (the default) and Yes.
// True only for Yes; No, or an alert that ended without an answer (the
// application already on its way out), changes nothing. Main thread.
bool confirmLeaving();

}  // namespace ov
