// Texts and their room: a control of a template whose text needs more room
// than the template gives takes it where it is free, and the measure of a
// window names what is still cut off.
#include <QFontMetrics>
#include <QGroupBox>

#include "ui_test.h"

namespace {

using ui::ControlKind;

constexpr int kFitDialog = 9350;
enum : int {
    kFreeRight = 9351,
    kBeforeEdit,
    kEdit,
    kCentred,
    kGroup,
    kInGroup,
    kNeverShown,
    kOverNeverShown,
    kLater,
    kButton,
    kWrapped,
    kBesideWrapped,
};
constexpr DWORD kShown = WS_VISIBLE;
const char* const kLong = "Name of the operator:";
const char* const kWrappedText = "Speed of every axis set";

void registerTemplate() {
    ui::RegisterDialog(
        {kFitDialog,
         "Fit",
         300,
         160,
         "DejaVu Sans",
         10,
         WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
         {
             {ControlKind::Static, kLong, kFreeRight, 5, 5, 20, 10, kShown},
             {ControlKind::Static, kLong, kBeforeEdit, 5, 25, 20, 10, kShown},
             {ControlKind::Edit, "", kEdit, 50, 25, 60, 12, kShown | WS_BORDER},
             {ControlKind::Static, "Centred text here", kCentred, 150, 5, 20, 10,
              kShown | SS_CENTER},
             {ControlKind::Button, "", kGroup, 100, 40, 60, 40, kShown | BS_GROUPBOX},
             {ControlKind::Button, "Tick this long option of the group", kInGroup, 105, 55, 30, 10,
              kShown | BS_AUTOCHECKBOX},
             // Never shown: a template for others, no obstacle.
             {ControlKind::Button, "", kNeverShown, 30, 90, 30, 10, BS_AUTOCHECKBOX},
             {ControlKind::Static, kLong, kOverNeverShown, 5, 90, 20, 10, kShown},
             {ControlKind::Static, "x", kLater, 5, 130, 20, 10, kShown},
             {ControlKind::Button, "A push button's text", kButton, 200, 130, 20, 14,
              kShown | BS_PUSHBUTTON},
             // Check boxes in a row, the first's text longer than its column.
             {ControlKind::Button, kWrappedText, kWrapped, 5, 105, 60, 10,
              kShown | BS_AUTOCHECKBOX},
             {ControlKind::Button, "b", kBesideWrapped, 70, 105, 30, 10, kShown | BS_AUTOCHECKBOX},
         }});
}

class FitDialog : public CDialog {
public:
    FitDialog() : CDialog(kFitDialog) {}
};

class TextFit : public uitest::CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        registerTemplate();
    }
    // The control's rectangle in the dialog, as the template gives it.
    static QRect templated(CDialog& dlg, int x, int y, int cx, int cy) {
        CRect r(x, y, x + cx, y + cy);
        dlg.MapDialogRect(&r);
        return QRect(r.left, r.top, r.Width(), r.Height());
    }
    static QRect geometryOf(CDialog& dlg, int id) { return uitest::widget(dlg, id)->geometry(); }
};

TEST_F(TextFit, TextsTakeTheFreeRoomBesideThemAndNoMore) {
    FitDialog dlg;
    QStringList unfit;
    EXPECT_EQ(uitest::runModal(
                  dlg,
                  [&] {
                      QWidget* window = uitest::widget(&dlg);
                      const QFontMetrics fm(window->font());
                      const int longWidth = fm.horizontalAdvance(kLong);

                      // Nothing beside it: one line as long as the text.
                      const QRect free = geometryOf(dlg, kFreeRight);
                      EXPECT_EQ(free.topLeft(), templated(dlg, 5, 5, 20, 10).topLeft());
                      EXPECT_GE(free.width(), longWidth);
                      EXPECT_EQ(free.height(), templated(dlg, 5, 5, 20, 10).height());

                      // An edit beside it: up to the edit, then wrapped downwards.
                      const QRect before = geometryOf(dlg, kBeforeEdit);
                      EXPECT_LT(before.right(), geometryOf(dlg, kEdit).left());
                      EXPECT_GT(before.width(), templated(dlg, 5, 25, 20, 10).width());
                      EXPECT_GT(before.height(), templated(dlg, 5, 25, 20, 10).height());

                      // Centred: it grows on both sides alike.
                      const QRect centred = geometryOf(dlg, kCentred);
                      const QRect was = templated(dlg, 150, 5, 20, 10);
                      EXPECT_LT(centred.left(), was.left());
                      EXPECT_LE(std::abs(centred.center().x() - was.center().x()), 1);

                      // In a group box: no further than its frame.
                      EXPECT_LT(geometryOf(dlg, kInGroup).right(), geometryOf(dlg, kGroup).right());

                      // A control never shown takes no room.
                      EXPECT_GE(geometryOf(dlg, kOverNeverShown).width(), longWidth);

                      // A push button grows on both sides.
                      const QRect button = geometryOf(dlg, kButton);
                      const QRect wasButton = templated(dlg, 200, 130, 20, 14);
                      EXPECT_LT(button.left(), wasButton.left());
                      EXPECT_GT(button.right(), wasButton.right());

                      // A check box's text wider than its column: up to its
                      // neighbour, then wrapped downwards, its box beside it.
                      const QRect wrapped = geometryOf(dlg, kWrapped);
                      const QRect wasWrapped = templated(dlg, 5, 105, 60, 10);
                      EXPECT_LT(wrapped.right(), geometryOf(dlg, kBesideWrapped).left());
                      EXPECT_GT(wrapped.height(), wasWrapped.height());
                      EXPECT_GE(wrapped.height(), 2 * fm.height());
                      EXPECT_EQ(wrapped.top(), wasWrapped.top());

                      // A text set later takes its room then.
                      dlg.GetDlgItem(kLater)->SetWindowText(kLong);
                      EXPECT_GE(geometryOf(dlg, kLater).width(), longWidth);

                      unfit = uitest::unfitTexts(window);
                      dlg.EndDialog(IDOK);
                  }),
              IDOK);
    // What had no room left is named, with its need and its room.
    ASSERT_EQ(unfit.size(), 1) << unfit.join('\n').toStdString();
    EXPECT_TRUE(unfit[0].contains("#9356")) << unfit[0].toStdString();
    EXPECT_TRUE(unfit[0].contains("'Tick this long option of the group' needs"))
        << unfit[0].toStdString();
}

}  // namespace
