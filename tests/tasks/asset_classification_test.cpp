#include "tasks/asset_classification.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kDev = L"D:\\dev";

struct ClassifyCase {
    const wchar_t* name;
    bool isDirectory;
    const wchar_t* expected;  // relative to kDev, or empty for no rule
};

// One or more names per rule, in table order, then the two suffix rules and the tie-breaks.
const ClassifyCase kClassifyCases[] = {
    {L"sfx_hit.png", false, L"\\anim\\effect"},
    {L"SFX_Fire", true, L"\\anim\\effect"},
    {L"sfx_", false, L"\\anim\\effect"},
    {L"sfx", false, L""},
    {L"hair_long", true, L"\\anim\\hair"},
    {L"Monster_01.zip", false, L"\\anim\\monster"},
    {L"npc_guard.ani", false, L"\\anim\\npc"},
    {L"PLAYER_run", true, L"\\anim\\player"},
    {L"weapon_pack.old", true, L"\\anim\\weapon"},
    {L"wings_angel.png", false, L"\\anim\\wings"},
    {L"shield_round", true, L"\\anim\\shield"},
    {L"obj_12.png", false, L"\\scene\\objects"},
    {L"objects.png", false, L"\\scene\\objects"},
    {L"obj_12.jpg", false, L""},
    {L"Smtiles5.PNG", false, L"\\scene\\smtiles"},
    {L"tiles3.png", false, L"\\scene\\tiles"},
    {L"objects", true, L"\\scene\\objects"},
    {L"Objects.txt", false, L"\\scene\\objects"},
    {L"objects_old", true, L""},
    {L"smtiles", true, L"\\scene\\smtiles"},
    {L"smtiles.dat", false, L"\\scene\\smtiles"},
    {L"tiles.txt", false, L"\\scene\\tiles"},
    {L"TILES", true, L"\\scene\\tiles"},
    // A directory's whole name is compared: "tiles.bak" is not "tiles".
    {L"tiles.bak", true, L""},
    {L"level1.MAP", false, L"\\scene\\map"},
    {L".map", false, L"\\scene\\map"},
    {L"song.Mp3", false, L"\\mp3"},
    {L".mp3", false, L"\\mp3"},
    {L"maps", true, L""},
    // Prefix rules come before the suffix rules.
    {L"sfx_hit.mp3", false, L"\\anim\\effect"},
    {L"npc_town.map", false, L"\\anim\\npc"},
    // "smtiles" never matches the "tiles" rules.
    {L"smtilesX", true, L""},
    {L"readme.txt", false, L""},
    {L"", false, L""},
    {L"sf", false, L""},
};

}  // namespace

TEST(AssetClassification, EveryRuleAndTieBreak) {
    for (const ClassifyCase& c : kClassifyCases) {
        const std::wstring expected = c.expected[0] ? kDev + c.expected : std::wstring();
        EXPECT_EQ(ClassifyAsset(kDev, c.name, c.isDirectory), expected)
            << "name index " << (&c - kClassifyCases);
    }
}

TEST(AssetClassification, EndsWithNoCase) {
    EXPECT_TRUE(EndsWithNoCase(L"a.PNG", L".png"));
    EXPECT_TRUE(EndsWithNoCase(L"anything", L""));
    EXPECT_TRUE(EndsWithNoCase(L"", L""));
    EXPECT_TRUE(EndsWithNoCase(L".png", L".PNG"));
    EXPECT_FALSE(EndsWithNoCase(L"png", L".png"));
    EXPECT_FALSE(EndsWithNoCase(L"a.pngx", L".png"));
    EXPECT_FALSE(EndsWithNoCase(L"a.jpg", L".png"));
}
