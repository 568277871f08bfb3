// The theme description file and the colour roles both windows draw with: every role named
// once and set from the carried theme, in the platform's colour type by a conversion of its
// own.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "base/Error.h"
#include "tests/theme/RubyGraphite.h"
#include "theme/ThemeFile.h"
#include "theme/ThemeRoles.h"

namespace quelvar {
namespace {

// A platform's colour: the red, green and blue of 0xRRGGBB in another order, as COLORREF
// holds them.
struct Bgr {
    std::uint32_t value = 0;
    bool operator==(const Bgr&) const = default;
};

Bgr toBgr(std::uint32_t rgb) {
    return {((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF)};
}

TEST(ThemeRolesTest, EveryRoleHasANameAndAMemberOfItsOwn) {
    using Roles = ThemeRoles<std::uint32_t>;
    std::set<std::string_view> names;
    for (const auto& [name, member] : Roles::roles()) {
        EXPECT_TRUE(names.insert(name).second) << name;
        // Setting one role sets no other.
        Roles theme;
        theme.*member = 1;
        for (const auto& [other, otherMember] : Roles::roles()) {
            EXPECT_EQ(theme.*otherMember, other == name ? 1u : 0u) << name << " " << other;
        }
    }
    EXPECT_EQ(names.size(), 24u);
}

TEST(ThemeRolesTest, CarriedThemeSetsEveryRoleOnce) {
    std::vector<std::string> seen;
    const std::string name =
        readThemeFile(kRubyGraphite, [&](std::string_view role, std::uint32_t) {
            seen.emplace_back(role);
            return true;
        });
    EXPECT_EQ(name, "Ruby Graphite");
    std::set<std::string> expected;
    for (const auto& role : ThemeRoles<std::uint32_t>::roles()) {
        expected.emplace(role.first);
    }
    EXPECT_EQ(seen.size(), expected.size());
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()), expected);

    ThemeRoles<Bgr> theme;
    EXPECT_EQ(theme.read(kRubyGraphite, toBgr), "Ruby Graphite");
    EXPECT_EQ(theme.face, Bgr{0x37322f});
    EXPECT_EQ(theme.accent, Bgr{0x3b22a8});
    EXPECT_EQ(theme.buttonText, Bgr{0xffffff});
    EXPECT_EQ(theme.tipText, Bgr{0xf4f2f1});
}

TEST(ThemeRolesTest, ReadsCommentsLineEndsAndTheLastValueOfARole) {
    ThemeRoles<std::uint32_t> theme;
    const std::string name = theme.read(
        "# comment\r\nname Dark Test\r\n\nface #0a0B0c\r\n#face #ffffff\nfield #102030\n"
        "field #405060",
        [](std::uint32_t rgb) { return rgb; });
    EXPECT_EQ(name, "Dark Test");
    EXPECT_EQ(theme.face, 0x0a0b0cu);
    EXPECT_EQ(theme.field, 0x405060u);
    EXPECT_EQ(theme.text, 0u);
}

TEST(ThemeRolesTest, RefusesWhatItCannotRead) {
    struct Case {
        const char* name;
        std::string_view description;
        std::string message;
    };
    const Case cases[] = {
        {"no value", "name x\nface", "Theme line without value: face"},
        {"short colour", "name x\nface #12345", "Theme colour is not #rrggbb: face #12345"},
        {"sign", "name x\nface #+12345", "Theme colour is not #rrggbb: face #+12345"},
        {"not hex", "name x\nface #12345g", "Theme colour is not #rrggbb: face #12345g"},
        {"unknown role", "name x\nbackground #123456", "Unknown theme role: background"},
        {"role in other case", "name x\nFace #123456", "Unknown theme role: Face"},
        {"no name", "face #123456", "Theme without name"},
        {"empty", "", "Theme without name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ThemeRoles<std::uint32_t> theme;
        try {
            theme.read(c.description, [](std::uint32_t rgb) { return rgb; });
            ADD_FAILURE() << "no error";
        } catch (const Error& error) {
            EXPECT_EQ(error.what(), c.message);
        }
    }
}

}  // namespace
}  // namespace quelvar
