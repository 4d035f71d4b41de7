// Linux has no editor yet: the controller has no view to give, whatever the name.
#include <gtest/gtest.h>

#include "host.h"

TEST(Vst3Controller, HasNoViewWithoutAnEditor) {
    IEditController* e = new_controller();
    ASSERT_NE(e, nullptr);
    for (const char* name : {"editor", "other", ""})
        EXPECT_EQ(e->vtbl->createView(e, name), nullptr) << name;
    EXPECT_EQ(e->vtbl->createView(e, nullptr), nullptr);
    EXPECT_EQ(release(e), 0u);
}
