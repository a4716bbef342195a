#pragma once

#include "platform/ui/window.h"

// The one document. It stores nothing: opening hands the path to the view, which opens the movie.
class CLoomcutDoc : public lc::ui::CDocument
{
public:
    // false when the movie could not be opened, when there is no view, or while processing runs.
    bool OnOpenDocument(const char *path) override;
};
