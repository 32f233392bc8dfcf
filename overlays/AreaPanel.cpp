#include "overlays/AreaPanel.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <climits>

#include "common/Language.h"
#include "common/ScreenSize.h"
#include "common/Settings.h"
#include "overlays/ScreenPixels.h"

namespace velmora {
namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry,
                  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setAlignment(alignment);
    return label;
}

QSpinBox* MakeSpin(QWidget* parent, const char* name, int minimum, int maximum, int step,
                   bool typing, QRect geometry) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setGeometry(geometry);
    spin->setRange(minimum, maximum);
    spin->setSingleStep(step);
    spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (!typing)  // the arrows still step; the text cannot be typed over
        if (auto* edit = spin->findChild<QLineEdit*>()) edit->setReadOnly(true);
    return spin;
}

// An upper limit of 0 or below means no upper limit; a value above the
// limit raises it, so nothing stored is cut by a smaller screen.
void SetUpperLimit(QSpinBox* edit, int limit) {
    edit->setMaximum(std::max(limit > 0 ? limit : INT_MAX, edit->value()));
}

}  // namespace

TAddForm::TAddForm(QWidget* owner) : QWidget(owner, Qt::Tool) {
    SetLanguageWindow(LanguageWindow::Add, this);
    setObjectName(QStringLiteral("AddForm"));
    setWindowTitle(QStringLiteral("Positions and information"));
    CreateControls();
    FormCreate();
}

TAddForm::~TAddForm() {
    SetLanguageWindow(LanguageWindow::Add, nullptr);
}

void TAddForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    // The main window's strip shows which way a click moves the panel.
    if (event->isAccepted()) emit closed();
}

void TAddForm::showEvent(QShowEvent* event) {
    UpdateLimits();  // the screen may have changed since the panel was last shown
    QWidget::showEvent(event);
}

void TAddForm::CreateControls() {
    setFixedSize(236, 204);
    constexpr int kLabelX = 8, kLabelW = 70, kEditX = 80, kEditW = 110, kPxX = 196;
    constexpr int kRowH = 22, kRow0 = 5, kRowStep = 24;
    const auto row = [&](int i) { return kRow0 + i * kRowStep; };

    // Rows: left, top, width, height; the labels' names are those the
    // language files use.
    MakeLabel(this, "Label3", QStringLiteral("Left :"), {kLabelX, row(0), kLabelW, kRowH});
    sSpinEdit2 = MakeSpin(this, "sSpinEdit2", 0, INT_MAX, 1, true, {kEditX, row(0), kEditW, kRowH});
    MakeLabel(this, "Label11", QStringLiteral("px"), {kPxX, row(0), 28, kRowH});
    MakeLabel(this, "Label2", QStringLiteral("Top :"), {kLabelX, row(1), kLabelW, kRowH});
    sSpinEdit1 = MakeSpin(this, "sSpinEdit1", 0, INT_MAX, 1, true, {kEditX, row(1), kEditW, kRowH});
    MakeLabel(this, "Label9", QStringLiteral("px"), {kPxX, row(1), 28, kRowH});
    MakeLabel(this, "Label4", QStringLiteral("Width :"), {kLabelX, row(2), kLabelW, kRowH});
    sSpinEdit3 =
        MakeSpin(this, "sSpinEdit3", 10, INT_MAX, 8, false, {kEditX, row(2), kEditW, kRowH});
    MakeLabel(this, "Label13", QStringLiteral("px"), {kPxX, row(2), 28, kRowH});
    MakeLabel(this, "Label5", QStringLiteral("Height :"), {kLabelX, row(3), kLabelW, kRowH});
    sSpinEdit4 =
        MakeSpin(this, "sSpinEdit4", 10, INT_MAX, 8, false, {kEditX, row(3), kEditW, kRowH});
    MakeLabel(this, "Label14", QStringLiteral("px"), {kPxX, row(3), 28, kRowH});

    GroupBox1 = new QGroupBox(QStringLiteral("Information"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(4, row(4) - 2, 228, 204 - row(4));
    Label1 = new QLabel(GroupBox1);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->setTextFormat(Qt::PlainText);
    auto* layout = new QVBoxLayout(GroupBox1);
    layout->setContentsMargins(6, 0, 6, 2);
    layout->addWidget(Label1);

    connect(sSpinEdit1, &QSpinBox::valueChanged, this, &TAddForm::sSpinEdit1Change);
    connect(sSpinEdit2, &QSpinBox::valueChanged, this, &TAddForm::sSpinEdit2Change);
    connect(sSpinEdit3, &QSpinBox::valueChanged, this, &TAddForm::sSpinEdit3Change);
    connect(sSpinEdit4, &QSpinBox::valueChanged, this, &TAddForm::sSpinEdit4Change);
}

void TAddForm::FormCreate() {
    ApplyLanguage();
    SetAreaEditsEnabled(Settings.TypeCapture == 0);
    ShowValues(Settings.RegionLeftPos, Settings.RegionTopPos, Settings.RegionWidthPos,
               Settings.RegionHeightPos);
    // The limits follow the screen, set only now so the stored area is shown
    // as it is.
    UpdateLimits();
}

void TAddForm::UpdateLimits() {
    // The whole X screen, not only the primary monitor: an area typed in
    // for another monitor is kept.
    const ScreenRect desktop = GetDesktopRect();
    SetUpperLimit(sSpinEdit1, desktop.height - 1);
    SetUpperLimit(sSpinEdit2, desktop.width - 1);
    SetUpperLimit(sSpinEdit3, std::max(5000, desktop.width));
    SetUpperLimit(sSpinEdit4, std::max(2500, desktop.height));
}

void TAddForm::DockBeside(const QWidget* window) {
    // Worked out in X pixels: with fractional scale factors, or screens of
    // different ratios, adding logical sizes leaves gaps or overlaps.
    const QWindow* handle = window->windowHandle();
    const QScreen* screen = handle ? handle->screen() : window->screen();
    const QRect frame = WindowPixelRect(window->frameGeometry(), screen);
    const QPoint corner(frame.x() + frame.width(), frame.y());
    QScreen* target = ScreenAtPixel(corner);
    if (QWindow* own = windowHandle(); own && own->screen() != target) own->setScreen(target);
    move(PixelToLogical(corner, target).toPoint());
}

void TAddForm::SetAreaEditsEnabled(bool enabled) {
    for (QSpinBox* edit : {sSpinEdit1, sSpinEdit2, sSpinEdit3, sSpinEdit4})
        edit->setEnabled(enabled);
}

void TAddForm::ShowRegion(int left, int top, int width, int height) {
    UpdateLimits();
    ShowValues(left, top, width, height);
}

void TAddForm::ShowValues(int left, int top, int width, int height) {
    sSpinEdit1->setValue(top);
    sSpinEdit2->setValue(left);
    sSpinEdit3->setValue(width);
    sSpinEdit4->setValue(height);
}

// The panel does not save: the values go to the file with the other settings.
void TAddForm::sSpinEdit1Change(int value) {
    Settings.RegionTopPos = value;
}
void TAddForm::sSpinEdit2Change(int value) {
    Settings.RegionLeftPos = value;
}
void TAddForm::sSpinEdit3Change(int value) {
    Settings.RegionWidthPos = value;
}
void TAddForm::sSpinEdit4Change(int value) {
    Settings.RegionHeightPos = value;
}

}  // namespace velmora
