// Tab completion in the line editor. The completion itself is library code
// (`zuv-complete-input`, boot/93-completion.zuv); the hook installed here
// hands it the line and cursor and turns its answer into the editor's.
#pragma once

namespace zuv::console {

// Installs the editor's completion hook; the console's start calls it.
void install_completion();

}  // namespace zuv::console
