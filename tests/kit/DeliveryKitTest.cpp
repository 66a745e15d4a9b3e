#include "kit/DeliveryKit.h"

#include <gtest/gtest.h>

namespace quillo {
namespace {

TEST(DeliveryKit, destinationsKeepTheirStoredRawValuesOrderAndRoles) {
    ASSERT_EQ(allDeliveryDestinations.size(), 3U);
    EXPECT_EQ(allDeliveryDestinations[0], DeliveryDestination::printer);
    EXPECT_EQ(allDeliveryDestinations[1], DeliveryDestination::display);
    EXPECT_EQ(allDeliveryDestinations[2], DeliveryDestination::both);
    EXPECT_EQ(rawValue(DeliveryDestination::printer), "printer");
    EXPECT_EQ(rawValue(DeliveryDestination::display), "display");
    EXPECT_EQ(rawValue(DeliveryDestination::both), "both");
    EXPECT_EQ(title(DeliveryDestination::display), "E-ink display");
    EXPECT_TRUE(prints(DeliveryDestination::both) && displays(DeliveryDestination::both));
    EXPECT_FALSE(displays(DeliveryDestination::printer));
    EXPECT_FALSE(prints(DeliveryDestination::display));
    for (const auto destination : allDeliveryDestinations) {
        EXPECT_EQ(deliveryDestinationFromRaw(rawValue(destination)), destination);
    }
    EXPECT_FALSE(deliveryDestinationFromRaw("Printer"));
    EXPECT_FALSE(deliveryDestinationFromRaw(""));
}

TEST(DeliveryKit, displayModelsKeepTheirRawValuesNamesAndSizes) {
    ASSERT_EQ(allDisplayModels.size(), 2U);
    EXPECT_EQ(allDisplayModels[0], DisplayModel::og);
    EXPECT_EQ(rawValue(DisplayModel::og), "og");
    EXPECT_EQ(rawValue(DisplayModel::x), "x");
    EXPECT_EQ(name(DisplayModel::og), "TRMNL OG \u00B7 800 \u00D7 480");
    EXPECT_EQ(name(DisplayModel::og).size(), 22U);
    EXPECT_EQ(name(DisplayModel::x).size(), 23U);
    EXPECT_EQ(width(DisplayModel::og) * 1000 + height(DisplayModel::og), 800480);
    EXPECT_EQ(width(DisplayModel::x) * 10000 + height(DisplayModel::x), 18721404);
    EXPECT_FALSE(displayModelFromRaw("OG"));
    EXPECT_FALSE(displayModelFromRaw("X"));
    EXPECT_FALSE(displayModelFromRaw("o"));
    EXPECT_EQ(displayModelFromRaw("x"), DisplayModel::x);
}

TEST(DeliveryKit, displayErrorsDescribeThemselves) {
    EXPECT_STREQ(DisplayError(DisplayError::invalidPDF).what(),
                 "The issue must contain portrait US Letter pages.");
    EXPECT_STREQ(DisplayError(DisplayError::render).what(), "Could not render this display frame.");
    EXPECT_STREQ(DisplayError(DisplayError::save).what(),
                 "Could not save the monochrome display frame.");
}

} // namespace
} // namespace quillo
