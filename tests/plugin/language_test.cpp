// The plug-in's choice between English and German texts.
#include "plugin_fixture.h"

namespace flarion_test {
namespace {

struct LanguageCase {
  const char *identifier;
  bool german;
};

void PrintTo(const LanguageCase &c, std::ostream *out) {
  *out << c.identifier << (c.german ? " (German)" : " (English)");
}

class LanguageTest : public PluginTest {
protected:
  // True when the command's help text, the dialog's labels and its status line are German; fails
  // the test when they disagree.
  bool showsGerman() {
    const bool helpGerman = host_->command(kCommandId)->help ==
                            "Live-GPU-Vorschau und EXR/PNG-Export für Thinking Particles";
    openDialog();
    const bool labelsGerman = control(control::kFromCamera).text == "Von Kamera";
    const bool statusGerman = status() == "Bereit";
    EXPECT_EQ(helpGerman, labelsGerman);
    EXPECT_EQ(labelsGerman, statusGerman);
    return labelsGerman;
  }
};

class PluginLanguage : public LanguageTest, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(PluginLanguage, CurrentLanguageIdentifierPicksTheTexts) {
  standin::HostOptions options;
  options.currentLanguage = GetParam().identifier;
  start(Renderer::None, options);
  EXPECT_EQ(showsGerman(), GetParam().german);
}

INSTANTIATE_TEST_SUITE_P(Identifiers, PluginLanguage,
                         ::testing::Values(LanguageCase{"de-AT", true}, LanguageCase{"de-DE", true},
                                           LanguageCase{"DE", true}, LanguageCase{"en-US", false},
                                           LanguageCase{"fr-FR", false},
                                           LanguageCase{"ja-JP", false}),
                         [](const auto &info) {
                           std::string name = info.param.identifier;
                           std::erase(name, '-');
                           return name;
                         });

class PluginLanguageEnumeration : public LanguageTest {
protected:
  bool germanFor(std::vector<standin::InstalledLanguage> installed) {
    standin::HostOptions options;
    options.currentLanguage.reset();
    options.installedLanguages = std::move(installed);
    start(Renderer::None, options);
    return showsGerman();
  }
};

TEST_F(PluginLanguageEnumeration, MarkedGermanLanguageGivesGerman) {
  EXPECT_TRUE(germanFor({{"en-US", false}, {"de-CH", true}, {"fr-FR", false}}));
}

TEST_F(PluginLanguageEnumeration, MarkedOtherLanguageGivesEnglish) {
  EXPECT_FALSE(germanFor({{"de-DE", false}, {"ja-JP", true}}));
}

TEST_F(PluginLanguageEnumeration, NoMarkedLanguageGivesGerman) {
  EXPECT_TRUE(germanFor({{"en-US", false}, {"fr-FR", false}}));
}

TEST_F(PluginLanguageEnumeration, EmptyListGivesGerman) { EXPECT_TRUE(germanFor({})); }

using PluginLanguageRefresh = LanguageTest;

TEST_F(PluginLanguageRefresh, LanguageIsChosenAgainWhenTheLayoutIsBuilt) {
  start(Renderer::None);
  host_->setCurrentLanguage(std::string("de-DE"));
  openDialog();
  EXPECT_EQ(control(control::kExportImage).text, "Bild exportieren");
  EXPECT_EQ(status(), "Bereit");
  // The command was registered at start, in the language of that moment.
  EXPECT_EQ(host_->command(kCommandId)->help,
            "Live GPU preview and EXR/PNG export for Thinking Particles");
  host_->setCurrentLanguage(std::string("en-GB"));
  reopenDialog();
  EXPECT_EQ(control(control::kExportImage).text, "Export image");
}

} // namespace
} // namespace flarion_test
