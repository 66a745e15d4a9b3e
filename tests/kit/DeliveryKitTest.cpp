// The stored raw values and the texts a reader sees; the raw values' parsing
// is PreferencesTest's, the sizes are the renderer's.
#include "kit/DeliveryKit.h"

#include <gtest/gtest.h>

namespace quillo {
namespace {

using enum DeliveryDestination;

TEST(DeliveryKit, CasesKeepTheirOrderRawValuesAndTexts) {
    EXPECT_EQ(allDeliveryDestinations, (decltype(allDeliveryDestinations){printer, display, both}));
    EXPECT_EQ(allDisplayModels, (decltype(allDisplayModels){DisplayModel::og, DisplayModel::x}));
    EXPECT_EQ(rawValue(printer), "printer");
    EXPECT_EQ(rawValue(DisplayModel::og), "og");
    EXPECT_EQ(title(printer), "Printer");
    EXPECT_EQ(title(display), "E-ink display");
    EXPECT_EQ(title(both), "Both");
    EXPECT_TRUE(prints(both) && displays(both) && prints(printer) && displays(display));
    EXPECT_FALSE(displays(printer) || prints(display));
    // UTF-8 middle dot (C2 B7) and multiplication sign (C3 97).
    EXPECT_EQ(name(DisplayModel::og), "TRMNL OG \xC2\xB7 800 \xC3\x97 480");
    EXPECT_EQ(name(DisplayModel::x), "TRMNL X \xC2\xB7 1872 \xC3\x97 1404");
    EXPECT_STREQ(DisplayError(DisplayError::render).what(), "Could not render this display frame.");
    EXPECT_STREQ(DisplayError(DisplayError::save).what(),
                 "Could not save the monochrome display frame.");
}

} // namespace
} // namespace quillo
