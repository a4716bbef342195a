#pragma once

// The quick-start guide's help texts, one paragraph per page. Pages 7 to 26 follow the option
// check boxes in the order of the options dialogs (their index + 7); page 34 is page 3 as shown
// after processing.
constexpr int kGuidePageCount = 35;
constexpr int kGuidePageAfterProcessing = 34;

extern const char *const kGuidePages[kGuidePageCount];

// The text for a page: page 34 for page 3 when afterProcessing is set; a page outside the
// table shows page 0.
const char *GuidePageText(int page, int afterProcessing);
