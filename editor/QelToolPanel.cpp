#include "QelToolPanel.h"

#include <QtEndian>
#include <QActionEvent>
#include <QFrame>
#include <QMainWindow>
#include <QMenu>
#include <QResizeEvent>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

#include "QelError.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"

TQelToolPanelModule* ToolPanelModule = nullptr;

namespace {

constexpr TQelGuid ToolPanelSettingsGuid = TQelGuid::Parse("{9FC124C8-2014-4832-8878-3489538D623F}");
constexpr uint32_t ToolPanelNodeId = 1;
constexpr uint32_t PanelStateElement = 1;

constexpr int PanelBorder = 8;
constexpr int PanelWidth = 200;
// Room below the toolbar inside the tool frame.
constexpr int ToolFrameGap = 6;

constexpr uint8_t DockTop = 0;
constexpr uint8_t DockBottom = 1;
constexpr uint8_t DockLeft = 2;
constexpr uint8_t DockRight = 3;

QMainWindow* OwnerWindow(QDockWidget* panel) {
    return panel ? qobject_cast<QMainWindow*>(panel->parentWidget()) : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// TQelWrapToolbar

TQelWrapToolbar::TQelWrapToolbar(QWidget* parent)
    : QWidget(parent), OnResize(), FItems(), FSeparatorSizes(), FIconSize(24, 24), FWrap(false), FRowCount(0) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TQelWrapToolbar::SetWrap(bool value) {
    if (FWrap == value) return;
    FWrap = value;
    Relayout();
}

void TQelWrapToolbar::SetIconSize(QSize size) {
    if (FIconSize == size) return;
    FIconSize = size;
    for (const TItem& item : FItems) {
        if (auto* button = qobject_cast<QToolButton*>(item.Widget)) button->setIconSize(size);
    }
    Relayout();
}

void TQelWrapToolbar::SetSeparatorSize(QAction* separator, int size) {
    if (!separator) return;
    FSeparatorSizes.insert(separator, std::max(size, 0));
    Relayout();
}

int TQelWrapToolbar::SeparatorSize(QAction* separator) const {
    const auto it = FSeparatorSizes.constFind(separator);
    if (it != FSeparatorSizes.constEnd()) return it.value();
    return std::max(style()->pixelMetric(QStyle::PM_ToolBarSeparatorExtent, nullptr, this), 1);
}

QWidget* TQelWrapToolbar::WidgetForAction(QAction* action) const {
    for (const TItem& item : FItems) {
        if (item.Action == action) return item.Action->isSeparator() ? nullptr : item.Widget;
    }
    return nullptr;
}

void TQelWrapToolbar::actionEvent(QActionEvent* event) {
    QAction* action = event->action();
    switch (event->type()) {
        case QEvent::ActionAdded: {
            QWidget* widget = nullptr;
            if (action->isSeparator()) {
                auto* line = new QFrame(this);
                line->setFrameShape(QFrame::VLine);
                line->setFrameShadow(QFrame::Sunken);
                widget = line;
            } else {
                auto* button = new QToolButton(this);
                button->setAutoRaise(true);
                button->setFocusPolicy(Qt::NoFocus);
                button->setIconSize(FIconSize);
                button->setToolButtonStyle(Qt::ToolButtonIconOnly);
                button->setDefaultAction(action);
                widget = button;
            }
            auto at = std::find_if(FItems.begin(), FItems.end(),
                                   [before = event->before()](const TItem& item) { return item.Action == before; });
            FItems.insert(at, TItem{action, widget});
            Relayout();
            break;
        }
        case QEvent::ActionRemoved: {
            auto it = std::find_if(FItems.begin(), FItems.end(),
                                   [action](const TItem& item) { return item.Action == action; });
            if (it != FItems.end()) {
                it->Widget->hide();
                it->Widget->deleteLater();
                FItems.erase(it);
            }
            FSeparatorSizes.remove(action);
            Relayout();
            break;
        }
        case QEvent::ActionChanged:
            // The button follows text, image and state itself; visibility
            // changes the layout.
            Relayout();
            break;
        default:
            break;
    }
    QWidget::actionEvent(event);
}

int TQelWrapToolbar::DoLayout(int width, bool apply, int* rows) const {
    int x = 0;
    int y = 0;
    int rowHeight = 0;
    int rowCount = 0;
    // Separators take the height of their row, known only at its end.
    std::vector<QWidget*> rowSeparators;
    // A separator placed last in a row that then wraps is not drawn.
    QWidget* trailingSeparator = nullptr;
    auto endRow = [&] {
        if (trailingSeparator) {
            if (apply) trailingSeparator->hide();
            rowSeparators.pop_back();
            trailingSeparator = nullptr;
        }
        if (apply) {
            for (QWidget* separator : rowSeparators) separator->resize(separator->width(), rowHeight);
        }
        rowSeparators.clear();
        if (x > 0) {
            ++rowCount;
            y += rowHeight;
        }
        x = 0;
        rowHeight = 0;
    };

    for (const TItem& item : FItems) {
        if (!item.Action->isVisible()) {
            if (apply) item.Widget->hide();
            continue;
        }
        if (item.Action->isSeparator()) {
            const int size = SeparatorSize(item.Action);
            // A separator never begins a row; one that does not fit ends
            // the row instead of being drawn.
            if (x == 0 || (FWrap && x + size > width)) {
                if (x > 0) endRow();
                if (apply) item.Widget->hide();
                continue;
            }
            if (apply) {
                item.Widget->setGeometry(x, y, size, std::max(rowHeight, 1));
                item.Widget->show();
            }
            rowSeparators.push_back(item.Widget);
            trailingSeparator = item.Widget;
            x += size;
            continue;
        }
        const QSize hint = item.Widget->sizeHint();
        if (FWrap && x > 0 && x + hint.width() > width) endRow();
        trailingSeparator = nullptr;
        if (apply) {
            item.Widget->setGeometry(x, y, hint.width(), hint.height());
            item.Widget->show();
        }
        x += hint.width();
        rowHeight = std::max(rowHeight, hint.height());
    }
    endRow();
    if (rows) *rows = rowCount;
    return y;
}

int TQelWrapToolbar::heightForWidth(int width) const { return DoLayout(width, false, nullptr); }

QSize TQelWrapToolbar::sizeHint() const {
    // Wrapping: as narrow as the widest button; otherwise one row.
    int widest = 0;
    int total = 0;
    for (const TItem& item : FItems) {
        if (!item.Action->isVisible()) continue;
        const int w = item.Action->isSeparator() ? SeparatorSize(item.Action) : item.Widget->sizeHint().width();
        if (!item.Action->isSeparator()) widest = std::max(widest, w);
        total += w;
    }
    const int w = FWrap ? std::max(widest, width()) : total;
    return QSize(w, heightForWidth(w));
}

QSize TQelWrapToolbar::minimumSizeHint() const {
    int widest = 0;
    for (const TItem& item : FItems) {
        if (item.Action->isVisible() && !item.Action->isSeparator())
            widest = std::max(widest, item.Widget->sizeHint().width());
    }
    return QSize(widest, 0);
}

void TQelWrapToolbar::Relayout() {
    updateGeometry();
    const int h = DoLayout(width(), false, nullptr);
    if (h != height()) {
        resize(width(), h);  // lays out in resizeEvent
    } else {
        DoLayout(width(), true, &FRowCount);
    }
}

void TQelWrapToolbar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    DoLayout(width(), true, &FRowCount);
    if (OnResize) OnResize();
}

// ---------------------------------------------------------------------------
// TQelToolFrame

TQelToolFrame::TQelToolFrame(QWidget* parent) : TQelFrame(parent), Toolbar(nullptr) { resize(178, 63); }

void TQelToolFrame::Create() {
    TQelFrame::Create();
    setObjectName(QStringLiteral("ToolFrame"));
    Toolbar = new TQelWrapToolbar(this);
    Toolbar->setObjectName(QStringLiteral("Toolbar"));
    Toolbar->setWindowTitle(QStringLiteral("Toolbar"));
    Toolbar->OnResize = [this] { ToolbarResize(); };
    Toolbar->setGeometry(0, 0, width(), Toolbar->heightForWidth(width()));
    ToolbarResize();
}

void TQelToolFrame::ToolbarResize() { setFixedHeight(Toolbar->height() + ToolFrameGap); }

void TQelToolFrame::resizeEvent(QResizeEvent* event) {
    TQelFrame::resizeEvent(event);
    // Aligned to the top: the toolbar is as wide as the frame and as high
    // as its rows.
    if (Toolbar) Toolbar->setGeometry(0, 0, width(), Toolbar->heightForWidth(width()));
}

// ---------------------------------------------------------------------------
// TQelPanelState

std::array<uint8_t, TQelPanelState::RecordSize> TQelPanelState::ToBytes() const {
    std::array<uint8_t, RecordSize> b{};
    qToLittleEndian<int32_t>(Size, &b[0]);
    b[4] = Visible ? 1 : 0;
    b[5] = Floating ? 1 : 0;
    qToLittleEndian<int32_t>(FloatingLeft, &b[6]);
    qToLittleEndian<int32_t>(FloatingTop, &b[10]);
    qToLittleEndian<int32_t>(FloatingWidth, &b[14]);
    qToLittleEndian<int32_t>(FloatingHeight, &b[18]);
    b[22] = DockPosition;
    qToLittleEndian<int32_t>(DockPos, &b[23]);
    qToLittleEndian<int32_t>(DockRow, &b[27]);
    qToLittleEndian<int32_t>(DockedWidth, &b[31]);
    qToLittleEndian<int32_t>(DockedHeight, &b[35]);
    qToLittleEndian<int32_t>(SplitWidth, &b[39]);
    qToLittleEndian<int32_t>(SplitHeight, &b[43]);
    return b;
}

TQelPanelState TQelPanelState::FromBytes(const std::array<uint8_t, RecordSize>& b) {
    TQelPanelState s;
    s.Size = qFromLittleEndian<int32_t>(&b[0]);
    s.Visible = b[4] != 0;
    s.Floating = b[5] != 0;
    s.FloatingLeft = qFromLittleEndian<int32_t>(&b[6]);
    s.FloatingTop = qFromLittleEndian<int32_t>(&b[10]);
    s.FloatingWidth = qFromLittleEndian<int32_t>(&b[14]);
    s.FloatingHeight = qFromLittleEndian<int32_t>(&b[18]);
    s.DockPosition = b[22];
    s.DockPos = qFromLittleEndian<int32_t>(&b[23]);
    s.DockRow = qFromLittleEndian<int32_t>(&b[27]);
    s.DockedWidth = qFromLittleEndian<int32_t>(&b[31]);
    s.DockedHeight = qFromLittleEndian<int32_t>(&b[35]);
    s.SplitWidth = qFromLittleEndian<int32_t>(&b[39]);
    s.SplitHeight = qFromLittleEndian<int32_t>(&b[43]);
    return s;
}

// ---------------------------------------------------------------------------
// TQelToolPanelModule

TQelToolPanelModule::TQelToolPanelModule()
    : TQelModuleWithControls(),
      VisibleMenuItem(),
      Panel(),
      Toolbar(nullptr),
      ToolFrame(),
      FFrames(),
      FOwnedFrames(),
      FMinClientWidth(0) {}

TQelToolPanelModule::~TQelToolPanelModule() {
    for (const QPointer<QWidget>& frame : FOwnedFrames) delete frame.data();
    delete ToolFrame.data();
    // The View item would otherwise call into a freed module.
    if (MainForm) delete VisibleMenuItem.data();
    if (ToolPanelModule == this) ToolPanelModule = nullptr;
}

void TQelToolPanelModule::Create() {
    TQelModuleWithControls::Create();
    TMainForm* mainForm = MainForm;
    if (!mainForm) throw EQelProgramError("The tool panel needs the main window.");

    Panel = mainForm->AddDockablePanel();
    Panel->setObjectName(QStringLiteral("ToolPanel"));
    Panel->setWindowTitle(QelText(176));
    Panel->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    Panel->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);

    auto* client = new QWidget(Panel);
    client->setObjectName(QStringLiteral("ToolPanelClient"));
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(PanelBorder, PanelBorder, PanelBorder, PanelBorder);
    layout->setSpacing(0);
    Panel->setWidget(client);

    ToolFrame = QelCreateFrame<TQelToolFrame>(client);
    Toolbar = ToolFrame->Toolbar;
    Toolbar->SetIconSize(mainForm->GetImages()->ImageSize());
    layout->addWidget(ToolFrame);

    FFrames = new QStackedWidget(client);
    FFrames->setObjectName(QStringLiteral("ToolFrames"));
    layout->addWidget(FFrames, 1);

    mainForm->addDockWidget(Qt::RightDockWidgetArea, Panel);
    Panel->setVisible(true);
    mainForm->resizeDocks({Panel.data()}, {PanelWidth}, Qt::Horizontal);

    VisibleMenuItem = mainForm->AddMenuItem(
        QelText(176), QKeySequence(), [this](QObject* sender) { ToggleVisibleClick(sender); }, -1,
        mainForm->ViewMenuItem, mainForm->ToolbarsMenuItem->menuAction());
    VisibleMenuItem->setObjectName(QStringLiteral("ToolPanelMenuItem"));
    VisibleMenuItem->setCheckable(true);
    VisibleMenuItem->setChecked(true);
}

QScrollArea* TQelToolPanelModule::NewFrameHost() {
    auto* host = new QScrollArea(FFrames);
    host->setFrameShape(QFrame::NoFrame);
    host->setWidgetResizable(true);
    host->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    host->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    return host;
}

void TQelToolPanelModule::DropFrameHost(QScrollArea* host) { delete host; }

void TQelToolPanelModule::AttachFrame(QScrollArea* host, QWidget* frame) {
    host->setWidget(frame);
    FFrames->addWidget(host);
    // The newest frame lies on top until a tool brings its own forward.
    FFrames->setCurrentWidget(host);
    FOwnedFrames.emplace_back(frame);
}

void TQelToolPanelModule::BringToFront(QWidget* frame) {
    if (!FFrames || !frame) return;
    for (int i = 0; i < FFrames->count(); ++i) {
        auto* host = qobject_cast<QScrollArea*>(FFrames->widget(i));
        if (host && host->widget() == frame) {
            FFrames->setCurrentIndex(i);
            return;
        }
    }
}

void TQelToolPanelModule::SetPanelWidth(int width) {
    if (!Panel || width < FMinClientWidth) return;
    FMinClientWidth = width;
    Panel->widget()->setFixedWidth(width);
    if (QMainWindow* window = OwnerWindow(Panel)) window->resizeDocks({Panel.data()}, {width}, Qt::Horizontal);
}

void TQelToolPanelModule::SetToolbarWrap() {
    if (Toolbar) Toolbar->SetWrap(true);
}

void TQelToolPanelModule::ToggleVisibleClick(QObject*) {
    if (Panel) Panel->setVisible(!IsPanelVisible());
}

bool TQelToolPanelModule::IsPanelVisible() const {
    // Visible as far as the panel itself decides: the main window may not be
    // shown yet.
    return Panel && Panel->isVisibleTo(Panel->parentWidget());
}

void TQelToolPanelModule::Localize() {
    if (Panel) Panel->setWindowTitle(QelText(176));
    if (VisibleMenuItem) VisibleMenuItem->setText(QelText(176));
}

void TQelToolPanelModule::UpdateControls() {
    const bool visible = IsPanelVisible();
    if (VisibleMenuItem && VisibleMenuItem->isChecked() != visible) VisibleMenuItem->setChecked(visible);
}

void TQelToolPanelModule::LoadSettings(TQelSDFReader& reader) {
    if (!reader.OpenNode(ToolPanelNodeId, ToolPanelSettingsGuid)) return;
    std::array<uint8_t, TQelPanelState::RecordSize> bytes{};
    if (Panel && reader.ReadData(PanelStateElement, bytes.data(), bytes.size()))
        RestorePanelState(Panel, TQelPanelState::FromBytes(bytes));
    reader.CloseNode();
}

void TQelToolPanelModule::SaveSettings(TQelSDFWriter& writer) {
    writer.BeginNode(ToolPanelNodeId, ToolPanelSettingsGuid);
    TQelPanelState state;
    SavePanelState(Panel, state);
    const auto bytes = state.ToBytes();
    writer.WriteData(PanelStateElement, bytes.data(), bytes.size());
    writer.EndNode();
}

bool TQelToolPanelModule::SavePanelState(QDockWidget* panel, TQelPanelState& state) {
    state = TQelPanelState();
    if (!panel) return true;
    QMainWindow* window = OwnerWindow(panel);
    state.Visible = panel->isVisibleTo(panel->parentWidget());
    state.Floating = panel->isFloating();
    if (state.Floating) {
        const QRect r = panel->geometry();
        state.FloatingLeft = r.x();
        state.FloatingTop = r.y();
        state.FloatingWidth = r.width();
        state.FloatingHeight = r.height();
    } else {
        switch (window ? window->dockWidgetArea(panel) : Qt::RightDockWidgetArea) {
            case Qt::TopDockWidgetArea: state.DockPosition = DockTop; break;
            case Qt::BottomDockWidgetArea: state.DockPosition = DockBottom; break;
            case Qt::LeftDockWidgetArea: state.DockPosition = DockLeft; break;
            default: state.DockPosition = DockRight; break;
        }
        // Qt keeps no dock rows or positions of its own; the sizes stand in
        // for the split sizes.
        state.DockedWidth = panel->width();
        state.DockedHeight = panel->height();
        state.SplitWidth = state.DockedWidth;
        state.SplitHeight = state.DockedHeight;
    }
    return true;
}

Qt::DockWidgetArea TQelToolPanelModule::FindPanelDock(QDockWidget*, int position) {
    switch (position) {
        case DockLeft: return Qt::LeftDockWidgetArea;
        case DockRight: return Qt::RightDockWidgetArea;
        default: return Qt::NoDockWidgetArea;
    }
}

bool TQelToolPanelModule::RestorePanelState(QDockWidget* panel, const TQelPanelState& state) {
    if (!panel || state.Size != TQelPanelState::RecordSize) return false;
    QMainWindow* window = OwnerWindow(panel);
    panel->setVisible(state.Visible);
    panel->setFloating(state.Floating);
    if (state.Floating) {
        // Keep the panel usable: at least its smallest size, and on a screen.
        const QSize least = panel->minimumSizeHint().expandedTo(QSize(1, 1));
        const QRect r(state.FloatingLeft, state.FloatingTop, std::max(state.FloatingWidth, least.width()),
                      std::max(state.FloatingHeight, least.height()));
        panel->setGeometry(QelClampRectToScreen(r));
        return true;
    }
    // A position this panel cannot take (a damaged or foreign file): the
    // panel stays in the dock it has.
    const Qt::DockWidgetArea area = FindPanelDock(panel, state.DockPosition);
    if (area == Qt::NoDockWidgetArea || !window) return true;
    window->setUpdatesEnabled(false);
    if (window->dockWidgetArea(panel) != area) window->addDockWidget(area, panel);
    if (state.DockedWidth > 0) window->resizeDocks({panel}, {state.DockedWidth}, Qt::Horizontal);
    window->setUpdatesEnabled(true);
    return true;
}
