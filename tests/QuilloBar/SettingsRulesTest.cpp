#include "QuilloBar/SettingsRules.h"

#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace quillo {
namespace {

using enum DeliveryDestination;

const QString webhook = QStringLiteral("https://trmnl.com/api/plugin_settings/8c2f/image");

// A webhook of `count` user-perceived characters, each of two code points.
QString webhookOfLength(qsizetype count) {
    const QString start = QStringLiteral("https://trmnl.com/api/");
    return start + QStringLiteral("e\u0301").repeated(count - start.size());
}

// Each row edits a complete form; two problems at once report the first.
TEST(SettingsRules, SaveReportsTheFirstProblem) {
    using Edit = std::function<void(SaveInput&)>;
    const auto badOrigin = SaveMessage::badOrigin;
    const auto badHook = SaveMessage::badWebhook;
    const auto badKey = SaveMessage::badKey;
    const QLatin1StringView passes;
    const std::vector<std::pair<Edit, QLatin1StringView>> cases{
        {[](SaveInput&) {}, passes},
        {[](SaveInput& f) { f.origin = " \thttps://quillo.news/\t "; }, passes},
        {[](SaveInput& f) { f.origin = "http://quillo.news"; }, badOrigin},
        {[](SaveInput& f) { f.origin = "https://quillo.news/feed"; }, badOrigin},
        {[](SaveInput& f) { f.origin = "https://me@quillo.news"; }, badOrigin},
        {[](SaveInput& f) { f.printer = ""; }, SaveMessage::noPrinter},
        {[](SaveInput& f) { f.printer = "", f.destination = display; }, passes},
        {[](SaveInput& f) { f.webhook = "https://usetrmnl.com/api/p/8c2f/image?v=2"; }, passes},
        {[](SaveInput& f) { f.webhook = "https://www.trmnl.com/api/x"; }, badHook},
        {[](SaveInput& f) { f.webhook = "https://trmnl.com.example.net/api/x"; }, badHook},
        {[](SaveInput& f) { f.webhook = "https://evil-trmnl.com/api/x"; }, badHook},
        {[](SaveInput& f) { f.webhook = "https://trmnl.com:8443/api/x"; }, badHook},
        {[](SaveInput& f) { f.webhook = "https://trmnl.com/api/"; }, badHook},
        {[](SaveInput& f) { f.webhook = "https://trmnl.com/api/x?a=\"b"; }, badHook},
        {[](SaveInput& f) { f.webhook = "https://trmnl.com/api/x\\y"; }, badHook},
        {[](SaveInput& f) { f.webhook = webhookOfLength(2048); }, passes},
        {[](SaveInput& f) { f.webhook = webhookOfLength(2049); }, badHook},
        {[](SaveInput& f) { f.webhook = "", f.unlockedWebhook = "https://trmnl.com/api/x"; },
         passes},
        {[](SaveInput& f) { f.webhook = ""; }, badHook},
        {[](SaveInput& f) { f.webhook = "x", f.destination = printer; }, passes},
        {[](SaveInput& f) { f.key = QString(1024, u'k'); }, passes},
        {[](SaveInput& f) { f.key = QString(1025, u'k'); }, badKey},
        {[](SaveInput& f) { f.key = " \r\n key \t\r\n"; }, passes},
        {[](SaveInput& f) { f.key = "cl\u00e9"; }, badKey},
        {[](SaveInput& f) { f.key = "ab\r\ncd"; }, badKey},
        {[](SaveInput& f) { f.key = ""; }, SaveMessage::noKey},
        {[](SaveInput& f) { f.key = "", f.unlockedToken = "key-0"; }, passes},
        {[](SaveInput& f) { f.origin = "quillo.news", f.printer = ""; }, badOrigin},
        {[](SaveInput& f) { f.webhook = "x", f.key = "a b"; }, badHook},
    };
    for (std::size_t row = 0; row < cases.size(); ++row) {
        SaveInput form{
            "https://quillo.news", both, DisplayModel::og, webhook, "key-1", 3, "Office"};
        cases[row].first(form);
        const auto outcome = checkSave(form);
        const auto* refusal = std::get_if<SaveRefusal>(&outcome);
        EXPECT_EQ(refusal != nullptr ? refusal->message : QString(), QString(cases[row].second))
            << "row " << row;
    }
}

TEST(SettingsRules, AcceptedFormIsNormalised) {
    SaveInput form{QStringLiteral("  https://Quillo.News:8443/ "),
                   both,
                   DisplayModel::x,
                   QStringLiteral("\t") + webhook,
                   QStringLiteral(" key-1\n"),
                   3,
                   QStringLiteral("Office")};
    for (const auto& [pages, stored] : {std::pair{0, 1}, {3, 3}, {9, 4}}) {
        form.maxPages = pages;
        const auto save = std::get<ValidatedSave>(checkSave(form));
        EXPECT_EQ(save.origin, QStringLiteral("https://quillo.news:8443"));
        EXPECT_EQ(save.typedWebhook, webhook);
        EXPECT_EQ(save.pageCount, stored);
    }
}

// Against stored settings: automatic on, printer "Office", 3 pages, og.
TEST(SettingsRules, TurningOnAsksWhenWhatIsDeliveredChanges) {
    using Edit = std::function<void(ValidatedSave&, StoredDelivery&)>;
    const std::vector<std::pair<Edit, bool>> cases{
        {[](ValidatedSave&, StoredDelivery&) {}, false},
        {[](ValidatedSave&, StoredDelivery& d) { d.automatic = false; }, true},
        {[](ValidatedSave& s, StoredDelivery&) { s.automatic = false; }, false},
        {[](ValidatedSave& s, StoredDelivery&) { s.pageCount = 2; }, true},
        {[](ValidatedSave& s, StoredDelivery&) { s.display = DisplayModel::x; }, false},
        {[](ValidatedSave& s, StoredDelivery&) { s.destination = both; }, true},
        {[](ValidatedSave& s, StoredDelivery&) { s.typedKey = "k"; }, true},
        {[](ValidatedSave& s, StoredDelivery& d) {
             s.destination = d.destination = display;
             s.display = DisplayModel::x;
         },
         true},
        {[](ValidatedSave& s, StoredDelivery& d) {
             s.destination = d.destination = display;
             s.pageCount = 1;
         },
         false},
    };
    for (std::size_t row = 0; row < cases.size(); ++row) {
        ValidatedSave save{
            "https://quillo.news", printer, DisplayModel::og, {}, {}, 3, "Office", true};
        StoredDelivery stored{true, printer, "https://quillo.news", "Office", 3, DisplayModel::og};
        cases[row].first(save, stored);
        EXPECT_EQ(needsTurnOnConfirmation(save, stored), cases[row].second) << "row " << row;
    }
}

// The privacy warning goes with every destination that feeds the display.
TEST(SettingsRules, TurnOnAlertNamesTheDestination) {
    EXPECT_EQ(TurnOnAlert::details(both),
              QStringLiteral("Every new issue will go to both while this computer is awake.\n\n"
                             "The front-page image, including anything private, is uploaded to "
                             "TRMNL\u2019s cloud.\n\nNothing is delivered now; only future issues "
                             "are."));
    EXPECT_FALSE(TurnOnAlert::details(printer).contains(QStringLiteral("TRMNL")));
}

} // namespace
} // namespace quillo
