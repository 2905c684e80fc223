#include "platform/module.h"

#include <gtest/gtest.h>

namespace {

TEST(Module, LoadsLibraryAndFindsExportedFunction) {
    std::string error;
    auto module = platform::Module::load(FIXTURE_MODULE, &error);
    ASSERT_TRUE(module.loaded()) << error;
    auto answer = module.function<int (*)()>("ostraFixtureAnswer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(module.symbol("noSuchSymbol"), nullptr);
    EXPECT_EQ(module.symbol(nullptr), nullptr);
}

TEST(Module, MissingLibraryGivesEmptyModuleAndReason) {
    std::string error;
    auto module = platform::Module::load("/nonexistent/folder/libnothing.so", &error);
    EXPECT_FALSE(module.loaded());
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(module.symbol("anything"), nullptr);
}

TEST(Module, MoveTransfersOwnershipAndUnloadIsIdempotent) {
    auto first = platform::Module::load(FIXTURE_MODULE);
    ASSERT_TRUE(first);
    platform::Module second = std::move(first);
    EXPECT_FALSE(first.loaded());
    EXPECT_TRUE(second.loaded());
    second.unload();
    second.unload();
    EXPECT_FALSE(second.loaded());
}

TEST(Module, LoadingAndUnloadingRepeatedlyIsClean) {
    for (int i = 0; i < 20; ++i) {
        auto module = platform::Module::load(FIXTURE_MODULE);
        ASSERT_TRUE(module);
        ASSERT_NE(module.symbol("ostraFixtureAnswer"), nullptr);
    }
}

TEST(Module, OwnModuleFileNamesThisProgram) {
    auto file = platform::ownModuleFile();
    ASSERT_TRUE(file.has_value());
    EXPECT_TRUE(std::filesystem::exists(*file));
    EXPECT_EQ(file->filename(), "test_platform");
}

} // namespace
