// SPDX-License-Identifier: GPL-3.0-or-later
#include "frm_metronome.h"

#include "accessibility.h"
#include "artwork.h"
#include "colors.h"
#include "design.h"
#include "error_dispatch.h"
#include "keyboard.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QWindow>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace window {

FrmMetronome::FrmMetronome(const ScreenMetrics& screen, sound::TimedPlayer& sound,
                           FormTimer::Now now)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint), m_screen(screen), m_sound(sound),
      m_fx(layoutTwipsPerPixel(screen.twipsPerPixelX())),
      m_fy(layoutTwipsPerPixel(screen.twipsPerPixelY())),
      m_round(m_gdi, screen, &RoundWindow::showErrorBox), m_tmrBPM(nullptr, now),
      m_tmr2(nullptr, now) {
    setObjectName("frmMetronome");
    setWindowTitle(QString::fromUtf8(design::WindowCaption.data(), design::WindowCaption.size()));
    setWindowIcon(QIcon(":/metronome.ico"));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, resolveColor(design::WindowColor, pal));
    setPalette(pal);
    setAutoFillBackground(true);
    setFixedSize(toPixels(design::WindowWidth, m_fx), toPixels(design::WindowHeight, m_fy));

    prepareAccessibility();
    buildControls();
    applyKeyboardConventions(*this);
    applyAccessibility(*this);
    m_flashHold.emplace(control<QLabel>("lblBPM"), now, [this](FormTimer::Clock::time_point due) {
        return m_sound.heardAt(due) - FlashLead;
    });

    m_controls.emplace(QtControls{
        .hsbBPM = QtScrollBar(control<QScrollBar>("hsbBPM")),
        .txtBPM = QtTextBox(control<QLineEdit>("txtBPM")),
        .tmrBPM = m_tmrBPM,
        .chkMute = QtCheckBox(control<QCheckBox>("chkMute")),
        .chkSound = QtCheckBox(control<QCheckBox>("chkSound")),
        .chkSpeed = QtCheckBox(control<QCheckBox>("chkSpeed")),
        .lblBPM = QtBeatLabel(control<QLabel>("lblBPM"), *m_flashHold),
        .lblTimer = QtLabel(control<QLabel>("lblTimer")),
        .lblTitle = QtLabel(control<QLabel>("lblTitle")),
        .lblTimer2 = QtLabel(control<QLabel>("lblTimer2")),
        .lblPointless = QtLabel(control<QLabel>("lblPointless")),
        .sound = BeatSound(sound, m_tmrBPM),
    });
    m_engine.emplace(m_controls->model());
    wireEvents();
    // Both timers are enabled from creation: tmr2 counts from now, tmrBPM waits for load.
    m_tmr2.setInterval(design::Tmr2Interval);
    m_tmrBPM.setInterval(0);
}

FrmMetronome::~FrmMetronome() = default;

QRect FrmMetronome::pixelRect(int left, int top, int width, int height) const {
    return {toPixels(left, m_fx), toPixels(top, m_fy), toPixels(width, m_fx),
            toPixels(height, m_fy)};
}

void FrmMetronome::buildControls() {
    using design::Kind;
    for (const design::Control& d : design::Controls) {
        const QString caption = QString::fromUtf8(d.caption.data(), d.caption.size());
        QWidget* w = nullptr;
        switch (d.kind) {
        case Kind::Timer:
            continue;
        case Kind::CommandButton:
            w = new QPushButton(caption, this);
            break;
        case Kind::CheckBox:
            w = new QCheckBox(caption, this);
            break;
        case Kind::Label:
            w = new QLabel(caption, this);
            break;
        case Kind::TextBox: {
            auto* edit = new QLineEdit(caption, this);
            edit->setAlignment(Qt::AlignCenter);
            // Disabled only so that nobody types into it: the tempo stays readable. It
            // looks the same while Tab may reach it (see applyAccessibility).
            QPalette pal = edit->palette();
            pal.setColor(QPalette::Disabled, QPalette::Text,
                         pal.color(QPalette::Active, QPalette::Text));
            for (const auto group : {QPalette::Active, QPalette::Inactive})
                pal.setColor(group, QPalette::Base, pal.color(QPalette::Disabled, QPalette::Base));
            edit->setPalette(pal);
            w = edit;
            break;
        }
        case Kind::HScrollBar: {
            auto* bar = new QScrollBar(Qt::Horizontal, this);
            bar->setRange(design::TempoMin, design::TempoMax);
            bar->setValue(design::TempoDesign);
            bar->setSingleStep(design::TempoArrowStep);
            bar->setPageStep(design::TempoTrackStep);
            // A dragged thumb changes the tempo only when it is released.
            bar->setTracking(false);
            // Qt inverts a scroll bar's keys by default; here Right and Page Up mean faster.
            bar->setInvertedControls(false);
            w = bar;
            break;
        }
        case Kind::Image: {
            auto* image = new QLabel(this);
            image->setPixmap(banner(devicePixelRatioF()));
            image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            w = image;
            break;
        }
        }
        w->setObjectName(QString::fromUtf8(d.name.data(), d.name.size()));
        w->setGeometry(pixelRect(d.left, d.top, d.width, d.height));
        if (d.fontPoints > 0) {
            QFont font(QString::fromUtf8(design::FontFamily.data(), design::FontFamily.size()));
            font.setBold(true);
            font.setPointSizeF(d.fontPoints);
            w->setFont(font);
        }
        if (d.back == design::Back::Opaque) {
            QPalette pal = w->palette();
            const QColor color = resolveColor(d.color, pal);
            pal.setColor(QPalette::Window, color);
            pal.setColor(QPalette::Button, color);
            w->setPalette(pal);
            w->setAutoFillBackground(true);
            if (d.kind == Kind::CommandButton) {
                // A graphical button: its own colour, flat, inside a raised edge.
                w->setStyleSheet(
                    QString("QPushButton { background-color: %1; border: 2px outset %2; }"
                            "QPushButton:pressed { border-style: inset; }"
                            "QPushButton:focus { border-color: %3; }")
                        .arg(color.name(), color.darker(130).name(), color.darker(250).name()));
            }
        } else if (d.back == design::Back::Transparent) {
            w->setAutoFillBackground(false);
        }
        if (!caption.isEmpty() && d.kind != Kind::TextBox) {
            // The background is ours, the text colour the desktop's: a dark scheme's white
            // would vanish on the yellow and cyan. Keep the desktop's where it reads.
            QPalette pal = w->palette();
            const QColor back =
                resolveColor(d.back == design::Back::Opaque ? d.color : design::WindowColor, pal);
            for (const auto group : {QPalette::Active, QPalette::Inactive})
                for (const auto role : {QPalette::WindowText, QPalette::ButtonText})
                    pal.setColor(group, role, readableOn(back, pal.color(group, role)));
            w->setPalette(pal);
        }
        const bool takesFocus =
            d.kind == Kind::CommandButton || d.kind == Kind::CheckBox || d.kind == Kind::HScrollBar;
        // The text box is put in the Tab order, which takes only controls that may be
        // focused; it is reached only while it stands in for the locked scroll bar (see
        // applyAccessibility).
        w->setFocusPolicy(takesFocus                ? Qt::StrongFocus
                          : d.kind == Kind::TextBox ? Qt::TabFocus
                                                    : Qt::NoFocus);
        w->setEnabled(d.enabled);
        w->setVisible(d.visible);
        m_widgets.emplace(std::string(d.name), w);
    }

    // Front-to-back: raise from the back-most row to the front-most.
    for (auto it = design::Controls.rbegin(); it != design::Controls.rend(); ++it)
        if (const auto w = m_widgets.find(it->name); w != m_widgets.end())
            w->second->raise();

    std::vector<const design::Control*> tabbed;
    for (const design::Control& d : design::Controls)
        if (const auto w = m_widgets.find(d.name);
            w != m_widgets.end() && w->second->focusPolicy() != Qt::NoFocus)
            tabbed.push_back(&d);
    std::sort(tabbed.begin(), tabbed.end(),
              [](auto* a, auto* b) { return a->tabIndex < b->tabIndex; });
    for (std::size_t i = 1; i < tabbed.size(); ++i)
        setTabOrder(&control(tabbed[i - 1]->name), &control(tabbed[i]->name));
    hsbBPM().setFocus();
}

QWidget& FrmMetronome::widget(std::string_view name) const {
    const auto it = m_widgets.find(name);
    if (it == m_widgets.end())
        throw std::out_of_range("no control " + std::string(name));
    return *it->second;
}

void FrmMetronome::wireEvents() {
    beat::Engine& engine = *m_engine;
    connect(&hsbBPM(), &QScrollBar::valueChanged, this,
            [&engine] { ErrorDispatch::run("hsbBPM_Change", [&] { engine.hsbBPM_Change(); }); });
    // The beat's flash is seen when its click is heard, as the click is written.
    connect(&m_tmrBPM, &FormTimer::tick, this, [this, &engine] {
        m_flashHold->showFor(m_tmrBPM.currentDue());
        ErrorDispatch::run("tmrBPM_Timer", [&] { engine.tmrBPM_Timer(); });
        m_flashHold->showFor(std::nullopt);
        foresee();
    });
    connect(&m_tmrBPM, &FormTimer::restarted, this, &FrmMetronome::foresee);
    connect(&m_tmr2, &FormTimer::tick, this,
            [&engine] { ErrorDispatch::run("tmr2_Timer", [&] { engine.tmr2_Timer(); }); });
    // Mute and Pause decide whether the next beats click.
    for (const char* name : {"chkMute", "chkSound"})
        connect(&control<QCheckBox>(name), &QCheckBox::toggled, this, &FrmMetronome::foresee);
    connect(&control<QCheckBox>("chkSpeed"), &QCheckBox::clicked, this,
            [&engine] { ErrorDispatch::run("chkSpeed_Click", [&] { engine.chkSpeed_Click(); }); });
    connect(&control<QPushButton>("cmdExit"), &QPushButton::clicked, this,
            [this] { ErrorDispatch::run("cmdExit_Click", [this] { cmdExit_Click(); }); });
    connect(&control<QPushButton>("Command1"), &QPushButton::clicked, this,
            [this] { ErrorDispatch::run("Command1_Click", [this] { Command1_Click(); }); });
}

void FrmMetronome::foresee() {
    std::optional<sound::BeatGrid> grid;
    if (const auto next = m_tmrBPM.nextDue())
        grid = sound::BeatGrid{*next, std::chrono::milliseconds(m_tmrBPM.interval())};
    m_sound.foresee(grid, m_engine->clicksNext());
}

void FrmMetronome::setVisible(bool visible) {
    if (visible && !m_loaded) {
        m_loaded = true;
        ErrorDispatch::run("Form_Load", [this] { Form_Load(); });
    }
    QWidget::setVisible(visible);
}

void FrmMetronome::Form_Load() {
    const std::int32_t corner = 50;
    m_round.ShapeRoundWindow(*this, corner);
    repaint();
    // Centred on the screen in twips, as designed; then placed on that screen, wherever it
    // lies among the others, and inside the part of it that panels leave free.
    const QRect screen = m_screen.geometry();
    const float top = (static_cast<float>(screen.height() * m_fy) - design::WindowHeight) / 2.0f;
    const float left = (static_cast<float>(screen.width() * m_fx) - design::WindowWidth) / 2.0f;
    const QPoint centred = screen.topLeft() + QPoint(toPixels(left, m_fx), toPixels(top, m_fy));
    move(keepInside(centred, size(), m_screen.availableGeometry()));
    // The beat starts at the design tempo, counted from 0.
    m_engine->startBeat();
}

void FrmMetronome::Form_Paint() {
    const std::int32_t corner = 50;
    m_round.PaintRoundBevel(*this, corner);
}

void FrmMetronome::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    gdi::Surface surface{&painter, palette(), m_foreColor, m_drawWidth, {}};
    m_surface = &surface;
    ErrorDispatch::run("Form_Paint", [this] { Form_Paint(); });
    m_surface = nullptr;
}

float FrmMetronome::Width() const {
    return design::WindowWidth;
}

float FrmMetronome::Height() const {
    return design::WindowHeight;
}

void FrmMetronome::setForeColor(std::uint32_t color) {
    m_foreColor = color;
    if (m_surface)
        m_surface->foreColor = color;
}

void FrmMetronome::setDrawWidth(std::int32_t width) {
    m_drawWidth = width;
    if (m_surface)
        m_surface->drawWidth = width;
}

void FrmMetronome::cmdExit_Click() {
    close();
}

void FrmMetronome::Command1_Click() {
    QMessageBox box(QMessageBox::NoIcon, "Credits",
                    "Designed and implemented by Velkaro (velkaro@example.com)", QMessageBox::Ok,
                    this);
    QPointer<QWidget> had = focusWidget();
    box.exec();
    // Without a window manager nobody gives the focus back when the box is gone.
    activateWindow();
    if (had)
        had->setFocus(Qt::OtherFocusReason);
}

void FrmMetronome::mousePressEvent(QMouseEvent* event) {
    // No title bar: the background is the handle to move the window by. Without a window
    // manager that can move it, the window follows the mouse itself.
    if (event->button() == Qt::LeftButton) {
        const bool moved = windowHandle() && windowHandle()->startSystemMove();
        m_dragOffset =
            moved ? std::nullopt : std::optional<QPoint>(event->globalPosition().toPoint() - pos());
    }
    QWidget::mousePressEvent(event);
}

void FrmMetronome::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragOffset && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - *m_dragOffset);
    QWidget::mouseMoveEvent(event);
}

void FrmMetronome::mouseReleaseEvent(QMouseEvent* event) {
    m_dragOffset.reset();
    QWidget::mouseReleaseEvent(event);
}

} // namespace window
