// The path Tessel is started with: which argument is taken, the file field's text it gives, and
// the window started with one.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/case_names.h"
#include "tests/ui/ui_fakes.h"
#include "ui/start_path.h"
#include "ui/system_text.h"

namespace tessel::testing {
namespace {

std::optional<std::string> StartPathOf(const std::vector<const char*>& arguments) {
    return ui::StartPath(arguments);
}

TEST(CommandLineStartPath, TheFirstArgumentThatIsNoOptionIsThePathAndTheRestIsIgnored) {
    EXPECT_EQ(StartPathOf({}), std::nullopt);
    EXPECT_EQ(StartPathOf({"/media/report.doc.1.BRK"}), "/media/report.doc.1.BRK");
    EXPECT_EQ(StartPathOf({"first.doc", "second.doc", "--extra"}), "first.doc");
    EXPECT_EQ(StartPathOf({"--version", "", "-x", "-", "report.doc"}), "report.doc");
    EXPECT_EQ(StartPathOf({"--", "-report.doc"}), std::nullopt);
    EXPECT_EQ(StartPathOf({"", "--help"}), std::nullopt);
}

struct FieldCase {
    std::string path;
    std::string expected;
};
const FieldCase kFieldCases[] = {
    // Pieces and checksum files: the name they belong to, ready for Join.
    {"/media/report.doc.1.BRK", "/media/report.doc"},
    {"/media/report.doc.12.BRK", "/media/report.doc"},
    {"/media/report.doc.32767.BRK", "/media/report.doc"},
    {"report.doc.3.BRK", "report.doc"},
    {"/media/report.doc.sha256", "/media/report.doc"},
    {"report.doc.sha256", "report.doc"},
    {"/media/a.BRK.b.2.BRK", "/media/a.BRK.b"},
    {"/media/report.1.BRK.2.BRK", "/media/report.1.BRK"},
    {"/media/ex\xC3\xA9.doc.2.BRK", "/media/ex\xC3\xA9.doc"},
    {"/media/noextension.4.BRK", "/media/noextension"},
    {"/media/x.9.BRK", "/media/x"},
    // Any other path: as it is, ready for Break.
    {"/media/report.doc", "/media/report.doc"},
    {"/media/report.BRK.doc", "/media/report.BRK.doc"},
    {"/media/report.doc.BRK", "/media/report.doc.BRK"},
    {"/media/report.doc.0.BRK", "/media/report.doc.0.BRK"},
    {"/media/report.doc.01.BRK", "/media/report.doc.01.BRK"},
    {"/media/report.doc.-1.BRK", "/media/report.doc.-1.BRK"},
    {"/media/report.doc.+1.BRK", "/media/report.doc.+1.BRK"},
    {"/media/report.doc.1a.BRK", "/media/report.doc.1a.BRK"},
    {"/media/report.doc. 1.BRK", "/media/report.doc. 1.BRK"},
    {"/media/report.doc.1.brk", "/media/report.doc.1.brk"},
    {"/media/report.doc.1.BRK.txt", "/media/report.doc.1.BRK.txt"},
    {"/media/report.doc1.BRK", "/media/report.doc1.BRK"},
    {"/media/report.doc.SHA256", "/media/report.doc.SHA256"},
    {"/media/report.sha256.doc", "/media/report.sha256.doc"},
    // A piece or checksum name with nothing before it has no name to join.
    {"/media/.1.BRK", "/media/.1.BRK"},
    {".1.BRK", ".1.BRK"},
    {"/media/.sha256", "/media/.sha256"},
    {".sha256", ".sha256"},
    {"/media/", "/media/"},
    {"", ""},
};

class CommandLineFileField : public ::testing::TestWithParam<FieldCase> {};

TEST_P(CommandLineFileField, APieceOrChecksumFileGivesItsNameAndAnyOtherPathStaysAsItIs) {
    const auto& c = GetParam();
    EXPECT_EQ(ui::FileFieldText(c.path, ".BRK"), c.expected) << c.path;
}

INSTANTIATE_TEST_SUITE_P(, CommandLineFileField, ::testing::ValuesIn(kFieldCases),
                         [](const auto& test) { return SpelledOut(test.param.path); });

// The piece ending is the settings' extension, whatever it is.
TEST(CommandLineStartPath, ThePieceEndingIsTheSettingsExtension) {
    EXPECT_EQ(ui::FileFieldText("/media/report.doc.2.PART", ".PART"), "/media/report.doc");
    EXPECT_EQ(ui::FileFieldText("/media/report.doc.2.BRK", ".PART"), "/media/report.doc.2.BRK");
    EXPECT_EQ(ui::FileFieldText("/media/report.doc.sha256", ".PART"), "/media/report.doc");
    EXPECT_EQ(ui::FileFieldText("/media/report.doc.2", ""), "/media/report.doc.2");
}

// A path in any encoding (Latin-1 from an old medium, a broken name) reaches the engine with
// the bytes it was given, whatever the window made of them for showing.
TEST(CommandLineSystemText, EveryByteStringComesBackWhole) {
    std::vector<std::string> texts = {
        "/media/caf\xE9.txt",              // Latin-1
        "/media/caf\xC3\xA9.txt",          // UTF-8
        "\xC0\xAF overlong \xE0\x80\xAF",  // overlong forms of "/"
        "\xED\xA0\x80 a surrogate",        // UTF-16 surrogates are no UTF-8
        "\xF4\x90\x80\x80 past U+10FFFF",
        "cut short \xE2\x82",
        "\xFF\xFE\x80\xBF",
        std::string("nul \0 inside", 13),
    };
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        std::string bytes(static_cast<std::size_t>(random() % 24), '\0');
        for (auto& byte : bytes) byte = static_cast<char>(random());
        texts.push_back(bytes);
    }
    for (const auto& text : texts) {
        const QString shown = ui::FromSystemText(text);
        EXPECT_EQ(ui::ToSystemPath(shown), text) << ::testing::PrintToString(text);
        if (QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8() ==
            QByteArray::fromStdString(text)) {
            EXPECT_EQ(shown, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())))
                << "valid UTF-8 shows as itself";
        }
    }
}

using CommandLineWindowTest = MainWindowTest;

TEST_F(CommandLineWindowTest, APathGivenAtTheStartFillsTheFileFieldAndNothingElse) {
    auto* field = Find<QLineEdit>("txtFileName");
    EXPECT_EQ(field->text(), "");  // started without a path: as always

    window->TakeStartPath("/media/disk/report \xC3\xA9t\xC3\xA9.doc.7.BRK");
    EXPECT_EQ(field->text(), QString::fromUtf8("/media/disk/report \xC3\xA9t\xC3\xA9.doc"));
    window->TakeStartPath("/media/disk/report.doc.sha256");
    EXPECT_EQ(field->text(), "/media/disk/report.doc");
    window->TakeStartPath("/home/user/report.doc.01.BRK");
    EXPECT_EQ(field->text(), "/home/user/report.doc.01.BRK");
    window->TakeStartPath("/media/old/caf\xE9.doc.3.BRK");
    EXPECT_EQ(ui::ToSystemPath(field->text()), "/media/old/caf\xE9.doc");

    EXPECT_EQ(Find<QLineEdit>("txtFolder")->text(), QString::fromStdString(settings.OutputFolder));
    EXPECT_EQ(Find<QLineEdit>("txtFileChunk")->text(), "1457644");
    EXPECT_TRUE(dialogs.fileRequests.empty());
    EXPECT_TRUE(summary.shown.empty());
}

}  // namespace
}  // namespace tessel::testing
