// lib/quillo/libquillo-issue-check.so: the issue check of kit/, with MuPDF.
#include "companion/ModuleEntries.h"
#include "kit/IssueCheck.h"

extern "C" __attribute__((visibility("default"))) int quillo_check_issue(const char* pdf,
                                                                         int* pages, int* badPage) {
    static_assert(std::is_same_v<decltype(quillo_check_issue), quillo::companion::IssueCheckEntry>);
    const auto result = quillo::IssueCheck::check(pdf);
    *pages = result.pages;
    *badPage = result.badPage;
    return result.problem ? static_cast<int>(*result.problem) : -1;
}
