#pragma once

namespace ov {

// The program: the application object, translations, the one-copy guard, the
// application delegate and its toolkit, the termination signals, and the
// download window with its controller, wired as the interface definition
// would wire them. Returns the process's exit status when the application has
// quit (a second copy returns at once, after bringing the first one forward).
int runOVDownloader(int argc, char** argv);

}  // namespace ov
