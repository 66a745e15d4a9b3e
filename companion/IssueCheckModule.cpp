// The issue check as a module the tool opens only when it validates a PDF, so
// that a check that finds nothing new never loads MuPDF and its libraries.
#include "companion/IssueCheckModule.h"

#include "kit/IssueCheck.h"

extern "C" __attribute__((visibility("default"))) int quillo_check_issue(const char* pdf,
                                                                         int* pages, int* badPage) {
    const auto result = quillo::IssueCheck::check(pdf);
    *pages = result.pages;
    *badPage = result.badPage;
    return result.problem ? static_cast<int>(*result.problem) : -1;
}
