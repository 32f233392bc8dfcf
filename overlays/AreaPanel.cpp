#include "overlays/AreaPanel.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
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
                   QRect geometry) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(QLatin1String(name));
    spin->setGeometry(geometry);
    spin->setRange(minimum, maximum);
    spin->setSingleStep(step);
    spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // A typed number counts once it is finished (Enter or leaving the field),
    // not at each digit.
    spin->setKeyboardTracking(false);
    return spin;
}

// An upper limit of 0 or below means no upper limit; a value above the
// limit raises it, so nothing stored is cut by a smaller screen.
void SetUpperLimit(QSpinBox* edit, int limit) {
    edit->setMaximum(std::max(limit > 0 ? limit : INT_MAX, edit->value()));
}

}  // namespace

AreaPanel::AreaPanel(QWidget* owner, bool partOfOwner)
    : QWidget(owner, partOfOwner ? Qt::Widget : Qt::Tool) {
    setObjectName(QStringLiteral("AreaPanel"));
    setWindowTitle(QStringLiteral("Details"));
    CreateControls();
    ShowSettings();
    // A child is shown with its parent unless hidden before.
    if (partOfOwner) hide();
}

AreaPanel::~AreaPanel() {
    SetLanguageWindow(LanguageWindow::Add, nullptr);
}

void AreaPanel::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    // The main window's strip shows which way a click moves the panel.
    if (event->isAccepted()) emit closed();
}

void AreaPanel::showEvent(QShowEvent* event) {
    UpdateLimits();  // the screen may have changed since the panel was last shown
    QWidget::showEvent(event);
}

void AreaPanel::CreateControls() {
    setFixedSize(236, 204);
    constexpr int kLabelX = 8, kLabelW = 70, kEditX = 80, kEditW = 110, kPxX = 196;
    constexpr int kRowH = 22, kRow0 = 5, kRowStep = 24;
    const auto row = [&](int i) { return kRow0 + i * kRowStep; };

    // Rows: left, top, width, height.
    QLabel* leftLabel =
        MakeLabel(this, "leftLabel", QStringLiteral("Left :"), {kLabelX, row(0), kLabelW, kRowH});
    leftEdit = MakeSpin(this, "leftEdit", 0, INT_MAX, 1, {kEditX, row(0), kEditW, kRowH});
    QLabel* leftUnit = MakeLabel(this, "leftUnit", QStringLiteral("px"), {kPxX, row(0), 28, kRowH});
    QLabel* topLabel =
        MakeLabel(this, "topLabel", QStringLiteral("Top :"), {kLabelX, row(1), kLabelW, kRowH});
    topEdit = MakeSpin(this, "topEdit", 0, INT_MAX, 1, {kEditX, row(1), kEditW, kRowH});
    QLabel* topUnit = MakeLabel(this, "topUnit", QStringLiteral("px"), {kPxX, row(1), 28, kRowH});
    QLabel* widthLabel =
        MakeLabel(this, "widthLabel", QStringLiteral("Width :"), {kLabelX, row(2), kLabelW, kRowH});
    widthEdit = MakeSpin(this, "widthEdit", 10, INT_MAX, 8, {kEditX, row(2), kEditW, kRowH});
    QLabel* widthUnit =
        MakeLabel(this, "widthUnit", QStringLiteral("px"), {kPxX, row(2), 28, kRowH});
    QLabel* heightLabel = MakeLabel(this, "heightLabel", QStringLiteral("Height :"),
                                    {kLabelX, row(3), kLabelW, kRowH});
    heightEdit = MakeSpin(this, "heightEdit", 10, INT_MAX, 8, {kEditX, row(3), kEditW, kRowH});
    QLabel* heightUnit =
        MakeLabel(this, "heightUnit", QStringLiteral("px"), {kPxX, row(3), 28, kRowH});

    areaRows_ = {leftLabel,  leftEdit,  leftUnit,  topLabel,    topEdit,    topUnit,
                 widthLabel, widthEdit, widthUnit, heightLabel, heightEdit, heightUnit};
    windowLabel = MakeLabel(this, "windowLabel", QString(), {kLabelX, row(0), 220, row(3) + kRowH},
                            Qt::AlignLeft | Qt::AlignTop);
    windowLabel->setTextFormat(Qt::PlainText);
    windowLabel->setWordWrap(true);
    windowLabel->hide();

    figuresGroup = new QGroupBox(QStringLiteral("Information"), this);
    figuresGroup->setObjectName(QStringLiteral("figuresGroup"));
    figuresGroup->setGeometry(4, row(4) - 2, 228, 204 - row(4));
    figuresLabel = new QLabel(figuresGroup);
    figuresLabel->setObjectName(QStringLiteral("figuresLabel"));
    figuresLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    figuresLabel->setTextFormat(Qt::PlainText);
    auto* layout = new QVBoxLayout(figuresGroup);
    layout->setContentsMargins(6, 0, 6, 2);
    layout->addWidget(figuresLabel);

    connect(topEdit, &QSpinBox::valueChanged, this, &AreaPanel::TopEdited);
    connect(leftEdit, &QSpinBox::valueChanged, this, &AreaPanel::LeftEdited);
    connect(widthEdit, &QSpinBox::valueChanged, this, &AreaPanel::WidthEdited);
    connect(heightEdit, &QSpinBox::valueChanged, this, &AreaPanel::HeightEdited);

    // The keys are the language files' names of the controls.
    SetLanguageWindow(LanguageWindow::Add, this,
                      {{"Label1", figuresLabel},
                       {"Label2", topLabel},
                       {"Label3", leftLabel},
                       {"Label4", widthLabel},
                       {"Label5", heightLabel},
                       {"Label9", topUnit},
                       {"Label11", leftUnit},
                       {"Label13", widthUnit},
                       {"Label14", heightUnit},
                       {"GroupBox1", figuresGroup}});
}

void AreaPanel::ShowSettings() {
    ApplyLanguage();
    SetAreaEditsEnabled(Settings.TypeCapture == 0);
    ShowValues(Settings.RegionLeftPos, Settings.RegionTopPos, Settings.RegionWidthPos,
               Settings.RegionHeightPos);
    // The limits follow the screen, set only now so the stored area is shown
    // as it is.
    UpdateLimits();
}

void AreaPanel::UpdateLimits() {
    // The whole X screen, not only the primary monitor: an area typed in
    // for another monitor is kept.
    const ScreenRect desktop = GetDesktopRect();
    SetUpperLimit(topEdit, desktop.height - 1);
    SetUpperLimit(leftEdit, desktop.width - 1);
    SetUpperLimit(widthEdit, std::max(5000, desktop.width));
    SetUpperLimit(heightEdit, std::max(2500, desktop.height));
}

void AreaPanel::DockBeside(const QWidget* window) {
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

void AreaPanel::ShowCaptureWindow(const std::optional<platform::TopLevelWindow>& window) {
    for (QWidget* control : areaRows_) control->setVisible(!window);
    windowLabel->setVisible(window.has_value());
    if (!window) return;
    // The title as the window gives it; a size only where it is known (on
    // Wayland the desktop's chooser picks the window at Record).
    QString text = MsgTexts(28) + u'\n' + QString::fromStdString(window->title);
    if (!window->area.empty())
        text += QStringLiteral("\n%1 x %2 px").arg(window->area.width).arg(window->area.height);
    windowLabel->setText(text);
}

void AreaPanel::SetAreaEditsEnabled(bool enabled) {
    for (QSpinBox* edit : {topEdit, leftEdit, widthEdit, heightEdit}) edit->setEnabled(enabled);
}

void AreaPanel::ShowRegion(int left, int top, int width, int height) {
    UpdateLimits();
    ShowValues(left, top, width, height);
}

void AreaPanel::ShowValues(int left, int top, int width, int height) {
    topEdit->setValue(top);
    leftEdit->setValue(left);
    widthEdit->setValue(width);
    heightEdit->setValue(height);
}

// The panel does not save: the values go to the file with the other settings.
void AreaPanel::TopEdited(int value) {
    Settings.RegionTopPos = value;
}
void AreaPanel::LeftEdited(int value) {
    Settings.RegionLeftPos = value;
}
void AreaPanel::WidthEdited(int value) {
    Settings.RegionWidthPos = value;
}
void AreaPanel::HeightEdited(int value) {
    Settings.RegionHeightPos = value;
}

}  // namespace velmora
