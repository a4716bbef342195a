#pragma once

// Layer-internal: the application object binds the call queue to its thread.

namespace lc::ui::internal {

// Marks the calling thread as the GUI thread (a QCoreApplication must exist).
void BindGuiThread();
void UnbindGuiThread();

} // namespace lc::ui::internal
