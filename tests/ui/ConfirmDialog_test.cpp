#include "ui/ConfirmDialog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>

#include "platform/message_window.h"
#include "platform/system.h"
#include "ui/ConfirmLayout.h"

namespace kdx {
namespace {

constexpr UINT kMsg = WM_USER + 7;

// Installs a presenter for one test and puts the thread's default back afterwards.
class ConfirmDialogTest : public ::testing::Test {
 protected:
  template <class P>
  P& Use(std::shared_ptr<P> presenter) {
    SetConfirmPresenter(presenter);
    return *presenter;
  }
  void TearDown() override { SetConfirmPresenter(nullptr); }

  // A stock order as its submitter fills the dialog.
  static void Fill(ConfirmDialog& dialog) {
    dialog.SetImageDirectory(u"/skins/");
    dialog.SetTitle(u"確認證券刪單", ConfirmDialog::kCancel);
    EXPECT_TRUE(dialog.AddRow(u"類別", kConfirmLabelColour, u"國內證券", kConfirmValueColour));
    dialog.AddRow(u"買賣別", kConfirmLabelColour, u"Buy", kConfirmBuyColour);
    dialog.AddRow(u"價格", 7, u"", kConfirmSellColour);
  }
};

TEST_F(ConfirmDialogTest, KeepsRowsInTwoRecordsAndShowsThemToThePresenter) {
  auto& scripted = Use(std::make_shared<ScriptedConfirmPresenter>(std::deque<int>{IDCANCEL, 5}));
  ConfirmDialog dialog;
  EXPECT_EQ(dialog.GetOrderButton().GetDlgCtrlID(), IDOK);
  EXPECT_EQ(dialog.GetCancelButton().GetDlgCtrlID(), IDCANCEL);
  Fill(dialog);
  ASSERT_EQ(dialog.GetRowCount(), 3);
  const struct { const char16_t* label; COLORREF labelColour; const char16_t* value; COLORREF valueColour; } rows[] = {
      {u"類別", 10119220, u"國內證券", 4473924}, {u"買賣別", 10119220, u"Buy", 255}, {u"價格", 7, u"", 65280}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(dialog.GetLabels().GetStringView(i), rows[i].label);
    EXPECT_EQ(dialog.GetLabels().GetNumber(i), rows[i].labelColour);
    EXPECT_EQ(dialog.GetValues().GetStringView(i), rows[i].value);
    EXPECT_EQ(dialog.GetValues().GetNumber(i), rows[i].valueColour);
  }
  EXPECT_EQ(dialog.GetValues().GetString(3), nullptr);

  // Answers in queue order, then IDOK once the queue is empty; every showing is recorded (the
  // rows as the order tests see them).
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
  EXPECT_EQ(dialog.DoModal(), 5);
  EXPECT_EQ(dialog.DoModal(), IDOK);
  ASSERT_EQ(scripted.Shown().size(), 3u);
  const auto& shown = scripted.Shown()[2];
  EXPECT_EQ(std::tuple(shown.title, shown.kind, shown.imageDirectory, shown.rows.size()),
            std::tuple(CString(u"確認證券刪單"), 1, CString(u"/skins/"), std::size_t{3}));

  // Restoring the default gives a scripted presenter that confirms.
  SetConfirmPresenter(nullptr);
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(dynamic_cast<ScriptedConfirmPresenter&>(*GetConfirmPresenter()).Shown().size(), 1u);
}

TEST_F(ConfirmDialogTest, ScriptedPresenterRunsQueuedMessagesOnlyWhenAskedTo) {
  for (bool pump : {false, true}) {
    Use(std::make_shared<ScriptedConfirmPresenter>(std::deque<int>{}, pump));
    MessageWindow window;
    int handled = 0;
    window.OnMessage(kMsg, [&](WPARAM, LPARAM) { return LRESULT{++handled}; });
    window.PostMessage(kMsg, 0, 0);
    ConfirmDialog dialog;
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(handled, pump ? 1 : 0);
    MessageLoop::ForCurrentThread().RunPending();
  }
}

TEST(DisplayWidth, WideAndFullWidthCharactersTakeTwoColumns) {
  const struct { std::u16string text; int width; } cases[] = {
      {u"", 0},        {u"ab1", 3},           {u"國內", 4},       {u"\u1100\u115F\u1160", 5},
      {u"ＡＢ", 4},    {u"\uFF61\uFFE0", 3},  {u"\U00020000", 2}, {u"\U0002FFFE\U0003FFFD", 3},
      {u"\xD800x", 2}, {u"\U0010FFFF", 1}, {u"\u3040\u3041", 3},  {u"\uD7A3\uD7A4", 3}, {u"\u2E7F\u2E80\u303F", 4},
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayWidth(c.text), c.width) << c.width;
}

// The input side of a pipe stands in for the terminal.
class TerminalTest : public ConfirmDialogTest {
 protected:
  void SetUp() override { ASSERT_EQ(pipe(fds_), 0); }
  void TearDown() override {
    ConfirmDialogTest::TearDown();
    close(fds_[0]);
    if (fds_[1] >= 0) close(fds_[1]);
  }
  void Type(const std::string& text) { ASSERT_EQ(write(fds_[1], text.data(), text.size()), ssize_t(text.size())); }
  void EndInput() {
    close(fds_[1]);
    fds_[1] = -1;
  }
  int fds_[2] = {-1, -1};
  std::ostringstream out_;
};

TEST_F(TerminalTest, PrintsRowsAlignedByDisplayWidth) {
  Use(std::make_shared<TerminalConfirmPresenter>(fds_[0], out_));
  ConfirmDialog dialog;
  dialog.SetTitle(u"確認\x1b[2J", 0);
  dialog.AddRow(u"類別", 0, u"國內證券", 0);
  dialog.AddRow(u"交易商", 0, u"ORV 9\n\x9b", 0);
  dialog.AddRow(u"ab", 0, u"x", 0);
  Type("order\n");
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(out_.str(),
            "\n確認?[2J\n"
            "  類別    國內證券\n"
            "  交易商  ORV 9??\n"
            "  ab      x\n"
            "ORDER or CANCEL? ");
}

TEST_F(TerminalTest, AnswersOrderOrCancelWithinBoundedTries) {
  const std::string longLine = std::string(TerminalLineReader::kMaxLine, ' ') + "ORDER\n";
  const struct { std::string input; int answer; int prompts; } cases[] = {
      {"  Order \r\n", IDOK, 1},
      {"cAnCeL\n", IDCANCEL, 1},
      {"", IDCANCEL, 1},
      {"ORDER", IDOK, 1},
      {"yes\n\nORDER\n", IDOK, 3},
      {"yes\nno\nmaybe\nORDER\n", IDCANCEL, 3},
      {longLine, IDCANCEL, 2},
      {std::string(3000, 'x') + "ORDER\nORDER\n", IDOK, 2},
      {"ORDERS\nCANCEL\n", IDCANCEL, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    TearDown();
    SetUp();
    out_.str("");
    Use(std::make_shared<TerminalConfirmPresenter>(fds_[0], out_));
    Type(c.input);
    EndInput();
    ConfirmDialog dialog;
    EXPECT_EQ(dialog.DoModal(), c.answer);
    int prompts = 0;
    for (auto at = out_.str().find("ORDER or CANCEL?"); at != std::string::npos;
         at = out_.str().find("ORDER or CANCEL?", at + 1)) {
      ++prompts;
    }
    EXPECT_EQ(prompts, c.prompts);
  }
}

// Each answer takes one line: the rest of what was typed waits for the next dialog.
TEST_F(TerminalTest, KeepsTypedAheadLinesForTheNextDialog) {
  Use(std::make_shared<TerminalConfirmPresenter>(fds_[0], out_, 1));
  Type("no\nORDER\nCANCEL\n");
  ConfirmDialog dialog;
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);  // one try only: "no" is not an answer
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EndInput();
  EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

// While the user has not answered, the thread's messages still run: here the answer itself
// is typed by a message handler, and a second handler shows a dialog of its own.
TEST_F(TerminalTest, RunsTheThreadsMessagesWhileWaiting) {
  Use(std::make_shared<TerminalConfirmPresenter>(fds_[0], out_));
  MessageWindow window;
  std::string log;
  window.OnMessage(kMsg, [&](WPARAM step, LPARAM) {
    log += std::to_string(step);
    if (step == 1) {
      window.PostMessage(kMsg, 2, 0);
    } else {
      Type("CANCEL\nORDER\n");
      log += ConfirmDialog().DoModal() == IDCANCEL ? "c" : "o";
    }
    return LRESULT{0};
  });
  window.PostMessage(kMsg, 1, 0);
  ConfirmDialog dialog;
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(log, "12c");
}

TEST(ScriptedConfirmPresenter, RemembersTheNewestShowingsOnly) {
  ScriptedConfirmPresenter presenter;
  for (std::size_t i = 0; i <= kMaxRecordedShowings; ++i) presenter.Show({FormatString(u"%d", static_cast<int>(i)), 0, {}, {}});
  EXPECT_EQ(presenter.Shown().size(), kMaxRecordedShowings / 2 + 1);
  EXPECT_EQ(presenter.Shown().back().title, FormatString(u"%d", static_cast<int>(kMaxRecordedShowings)));
}

TEST(ConfirmLayout, GrowsThirtyPixelsARow) {
  const struct { int rows; ConfirmRect window, order, cancel, bottom, panel; } cases[] = {
      {0, {0, 0, 299, 222}, {46, 139, 82, 32}, {166, 139, 82, 32}, {0, 115, 293, 82}, {37, 95, 220, 20}},
      {1, {0, 0, 299, 252}, {46, 169, 82, 32}, {166, 169, 82, 32}, {0, 145, 293, 82}, {37, 95, 220, 50}},
      {6, {0, 0, 299, 402}, {46, 319, 82, 32}, {166, 319, 82, 32}, {0, 295, 293, 82}, {37, 95, 220, 200}},
      {20, {0, 0, 299, 822}, {46, 739, 82, 32}, {166, 739, 82, 32}, {0, 715, 293, 82}, {37, 95, 220, 620}},
  };
  for (const auto& c : cases) {
    const ConfirmLayout layout(c.rows);
    EXPECT_EQ(layout.window, c.window) << c.rows;
    EXPECT_EQ(layout.orderButton, c.order) << c.rows;
    EXPECT_EQ(layout.cancelButton, c.cancel) << c.rows;
    EXPECT_EQ(layout.bottom, c.bottom) << c.rows;
    EXPECT_EQ(layout.panel, c.panel) << c.rows;
    EXPECT_EQ(layout.middle, (ConfirmRect{0, 0, 293, c.window.height - 25})) << c.rows;
  }
  for (const auto& [kind, file] : {std::pair(0, "ConfirmBackTopOrder.bmp"), std::pair(1, "ConfirmBackTopCancel.bmp"),
                                   std::pair(2, "ConfirmBackTopReduce.bmp"), std::pair(3, "ConfirmBackTopOrder.bmp"),
                                   std::pair(4, "ConfirmBackTopModify.bmp")})
    EXPECT_STREQ(ConfirmTopImage(kind), file);
}

TEST(ConfirmLayout, LooksForSkinsInTheirFoldersInOrder) {
  const auto root = std::filesystem::temp_directory_path() / ("kdx-skin-" + std::to_string(getpid()));
  const std::string exe = root.generic_string();  // the folders' separators as the candidates give them
  SetModuleFileNameOverride(CString::FromUtf8(exe + "/host.exe").str());
  const std::vector<std::string> defaults{exe + "/Images/Default/OrderPrompt/a.bmp", exe + "/Images/Default/OrderPrompt/a.bmp",
                                          exe + "/Images/OrderPrompt/a.bmp", "/skins/a.bmp"};
  EXPECT_EQ(ConfirmSkinCandidates("a.bmp", u"/skins/"), defaults);
  std::filesystem::create_directories(root / "Configs");
  std::ofstream(root / "Configs" / "System.ini") << "[Template]\nlanguage=Big5\n";
  EXPECT_EQ(ConfirmSkinCandidates("a.bmp", u"C:\\kdx/Images\\")[0], exe + "/Images/Big5/OrderPrompt/a.bmp");
  EXPECT_EQ(ConfirmSkinCandidates("a.bmp", u"C:\\kdx/Images\\")[3], "C:/kdx/Images/a.bmp");
  EXPECT_EQ(ConfirmImageDirectory(u"skins\\/"), "skins");
  EXPECT_EQ(ConfirmImageDirectory(u"skins"), "skins");
  SetModuleFileNameOverride(std::nullopt);
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace kdx
