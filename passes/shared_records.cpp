#include "passes/conversion_state.h"
#include "passes/source_kind.h"
#include "passes/ui_state.h"

// The one definition of each process-wide record of this folder.
UiState gUiState;
SourceKind gSourceKind;
ConversionState gConversionState;
