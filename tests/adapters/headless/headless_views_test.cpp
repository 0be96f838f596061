#include "adapters/headless/headless_views.h"

#include <gtest/gtest.h>

#include <sstream>

namespace orvanta {
namespace {

// What a person at the terminal reads: pixels and words, never the forms' twips or colour numbers.
TEST(HeadlessViews, SayWhereTheStartWindowGoesInPixelsAndTheLinesConnectionInWords) {
    struct Placement {
        FormPosition position;
        FormScreen screen;
        std::string said;
    };
    const Placement placements[] = {
        {{6566, 5083},
         {15360, 11520, false},
         "Orvanta: start window off centre on 1024 x 768 pixels, its top left corner at 438, 339\n"},
        {{3780, 3390},
         {15360, 11520, true},
         "Orvanta: start window centred on 1024 x 768 pixels, its top left corner at 252, 226\n"},
        {{-3907.5f, 5310},
         {-15, 15360, true},  // no Resolution: a screen -1 pixel wide
         "Orvanta: start window centred on -1 x 1024 pixels, its top left corner at -261, 354\n"},
    };
    for (const Placement& p : placements) {
        std::ostringstream out;
        HeadlessStartForm(out).move(p.position, p.screen);
        EXPECT_EQ(out.str(), p.said);
    }

    std::ostringstream out;
    HeadlessCentralForm central(out);
    central.setConnectionShapeFillColor(kLineConnectedColour);
    central.setConnectionShapeFillColor(kLineDisconnectedColour);
    central.setConnectionShapeFillColor(0x0080FF);  // &H000080FF: orange
    EXPECT_EQ(out.str(),
              "Orvanta: line connected\n"
              "Orvanta: line not connected\n"
              "Orvanta: line connection shown in #FF8000\n");
}

}  // namespace
}  // namespace orvanta
