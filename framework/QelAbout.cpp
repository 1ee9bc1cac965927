#include "QelAbout.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTabBar>
#include <QUrl>

#include <memory>

#include "QelGeometry.h"
#include "QelLocalizer.h"
#include "QelMainForm.h"

namespace {

constexpr int32_t TextAbout = 47;
constexpr int32_t TextCredits = 53;
constexpr int32_t TextLicense = 167;

constexpr char TagProperty[] = "qelAboutTab";

bool IsSeparator(QChar c) { return c == QLatin1Char('/') || c == QLatin1Char(':') || c == QLatin1Char('\\'); }

}  // namespace

QString QelLinkHost(const QString& Text) {
    qsizetype i = Text.indexOf(QLatin1Char(':'));
    if (i < 0) return QString();
    ++i;
    while (i < Text.size() && IsSeparator(Text[i])) ++i;
    qsizetype end = i;
    while (end < Text.size() && !IsSeparator(Text[end])) ++end;
    return Text.mid(i, end - i);
}

// --- TQelLogoBackground --------------------------------------------------------------

TQelLogoBackground::TQelLogoBackground(QWidget* Parent) : QWidget(Parent), FPicture() {
    setObjectName(QStringLiteral("Background"));
    // The picture covers every pixel; nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TQelLogoBackground::LoadPicture(const QByteArray& Name) {
    FPicture = QImage();
    // Resource names are compared without regard to case, as the platform's are.
    const QString wanted = QString::fromLatin1(Name);
    const QDir folder(QStringLiteral(":/pictures"));
    for (const QFileInfo& entry : folder.entryInfoList(QDir::Files)) {
        if (entry.completeBaseName().compare(wanted, Qt::CaseInsensitive) != 0) continue;
        if (FPicture.load(entry.filePath())) break;
    }
    update();
}

void TQelLogoBackground::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (FPicture.isNull()) {
        painter.fillRect(rect(), palette().window());
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), FPicture);
}

// --- TQelAboutForm ---------------------------------------------------------------------

TQelAboutForm::TQelAboutForm(QWidget* Parent, const TQelAboutRows& Rows)
    : TQelForm<QDialog>(Parent), AboutTabControl(nullptr), AboutTabs(nullptr), Background(nullptr), Labels(),
      FRows(Rows) {}

void TQelAboutForm::Create() {
    TQelForm<QDialog>::Create();
    setObjectName(QStringLiteral("AboutForm"));
    setFixedSize(499, 334);
    AboutTabControl = new QWidget(this);
    AboutTabControl->setObjectName(QStringLiteral("AboutTabControl"));
    AboutTabControl->setGeometry(4, 4, 493, 328);
    AboutTabs = new QTabBar(AboutTabControl);
    AboutTabs->setObjectName(QStringLiteral("AboutTabs"));
    AboutTabs->setDrawBase(false);
    AboutTabs->setExpanding(false);
    const int tab = AboutTabs->addTab(QStringLiteral("About"));
    AboutTabs->setTabData(tab, 0);
    const int tabHeight = AboutTabs->sizeHint().height();
    AboutTabs->setGeometry(0, 0, 493, tabHeight);
    // The picture fills the tab control below its tabs.
    Background = new TQelLogoBackground(AboutTabControl);
    Background->setGeometry(0, tabHeight, 493, 328 - tabHeight);
    Background->lower();
    Background->LoadPicture(FRows.ItemName);
    BuildLabels(Background->width(), Background->Picture().width(), FRows.RowCount, FRows.Rows);
    connect(AboutTabs, &QTabBar::currentChanged, this, [this] { AboutTabControlChange(); });
    AboutTabControlChange();
}

void TQelAboutForm::Localize() {
    setWindowTitle(QelText(TextAbout));
    for (int i = 0; i < AboutTabs->count(); ++i) AboutTabs->setTabText(i, GetTabCaption(AboutTabs->tabData(i).toInt()));
}

QString TQelAboutForm::GetTabCaption(int32_t Id) const {
    switch (Id) {
        case 0: return QelText(TextAbout);
        case 1: return QelText(TextCredits);
        case 2: return QelText(TextLicense);
        default: return QString();
    }
}

void TQelAboutForm::BuildLabels(int32_t BackgroundWidth, int32_t PictureWidth, int32_t Count,
                                const TQelAboutRow* Rows) {
    if (!Rows || Count <= 0) return;
    const int32_t pictureWidth = PictureWidth != 0 ? PictureWidth : BackgroundWidth;
    auto scale = [&](int32_t x) { return MulDiv(x, BackgroundWidth, pictureWidth); };
    TQelRect prev;
    int32_t height = 0, leading = 0, charWidth = 0;
    for (int32_t r = 0; r < Count; ++r) {
        const TQelAboutRow& row = Rows[r];
        auto* label = new QLabel(Background);
        label->setObjectName(QStringLiteral("AboutLabel%1").arg(r + 1));
        if (r == 0) {
            const QFontMetrics metrics(label->font());
            height = metrics.height();
            leading = metrics.leading();
            charWidth = metrics.averageCharWidth();
        }
        const QString text = row.Literal ? QString::fromUtf16(row.Literal) : QelText(row.Text);
        QString caption = (row.Flags & QelAboutLink) ? QelLinkHost(text) : text;
        if (row.Flags & QelAboutColon) caption += QLatin1Char(':');
        label->setText(caption);
        label->setTextFormat(Qt::PlainText);
        if (row.Flags & QelAboutLink) label->setToolTip(text);

        if (row.Tab > 0) {
            bool present = false;
            for (int i = 0; i < AboutTabs->count(); ++i) present |= AboutTabs->tabData(i).toInt() == row.Tab;
            if (!present) AboutTabs->setTabData(AboutTabs->addTab(GetTabCaption(row.Tab)), row.Tab);
        }
        label->setProperty(TagProperty, row.Tab);

        prev.Bottom += QelRoundEven(double(height + leading) * row.LineFactor);

        QFont font = label->font();
        if (row.Flags & QelAboutBold) font.setBold(true);
        if (row.Flags & QelAboutLink) {
            font.setUnderline(true);
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
            label->setPalette(palette);
            label->setCursor(Qt::PointingHandCursor);
            label->installEventFilter(this);
        } else if (row.Flags & QelAboutWhite) {
            QPalette palette = label->palette();
            palette.setColor(QPalette::WindowText, Qt::white);
            label->setPalette(palette);
        }
        label->setFont(font);
        label->setWordWrap(row.Flags & QelAboutWordWrap);
        label->setAlignment((row.Flags & QelAboutRightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);

        int32_t left, top;
        if (row.Flags & QelAboutSameLine) {
            left = prev.Right + charWidth;
            top = prev.Top;
        } else {
            left = row.Left != 0 ? scale(row.Left) : prev.Left;
            top = row.Top != 0 ? scale(row.Top) : prev.Bottom + 2 * leading;
        }
        const QSize natural = label->sizeHint();
        const int32_t w = row.Width != 0 ? scale(row.Width) : natural.width();
        const int32_t h = row.Height != 0 ? scale(row.Height)
                          : (row.Flags & QelAboutWordWrap) && row.Width != 0 ? label->heightForWidth(w)
                                                                              : natural.height();
        label->setGeometry(left, top, w, h);
        const TQelRect bounds(left, top, left + w, top + h);
        if (row.Flags & QelAboutSameLine)
            prev = TQelRect(std::min(prev.Left, bounds.Left), std::min(prev.Top, bounds.Top),
                            std::max(prev.Right, bounds.Right), std::max(prev.Bottom, bounds.Bottom));
        else
            prev = bounds;
        Labels << label;
    }
}

void TQelAboutForm::AboutTabControlChange() {
    // Labels carry tab ids; the selected tab's id decides, so a table that
    // skips an id still shows the right labels.
    const int index = AboutTabs->currentIndex();
    const int id = index >= 0 ? AboutTabs->tabData(index).toInt() : -1;
    for (QLabel* label : Labels) {
        const int tag = label->property(TagProperty).toInt();
        label->setVisible(tag == id || tag < 0);
    }
}

void TQelAboutForm::LinkLabelClick(QLabel* Label) {
    const QString hint = Label ? Label->toolTip() : QString();
    if (!hint.isEmpty()) QDesktopServices::openUrl(QUrl(hint));
}

bool TQelAboutForm::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton)
        if (auto* label = qobject_cast<QLabel*>(Watched); label && Labels.contains(label)) {
            LinkLabelClick(label);
            return true;
        }
    return TQelForm<QDialog>::eventFilter(Watched, Event);
}

void TQelAboutForm::keyPressEvent(QKeyEvent* Event) {
    switch (Event->key()) {
        case Qt::Key_Escape: reject(); return;
        case Qt::Key_Return:
        case Qt::Key_Enter: accept(); return;
        default: TQelForm<QDialog>::keyPressEvent(Event);
    }
}

// --- TQelAbout ---------------------------------------------------------------------------

void TQelAbout::Create() {
    TQelModule::Create();
    if (!MainForm) return;
    QMenu* help = MainForm->HelpMenuItem;
    AboutMenuSeparator = MainForm->AddSeparator(help, nullptr);
    AboutMenuSeparator->setObjectName(QStringLiteral("AboutMenuSeparator"));
    AboutMenuItem = MainForm->AddMenuItem(
        QelText(TextAbout), QKeySequence(), [this](QObject* sender) { AboutClick(sender); }, -1, help, nullptr);
    AboutMenuItem->setObjectName(QStringLiteral("AboutMenuItem"));
}

void TQelAbout::Localize() {
    if (AboutMenuItem) AboutMenuItem->setText(QelText(TextAbout));
}

void TQelAbout::SetRows(const TQelAboutRow* Rows, int32_t RowCount, const QByteArray& ItemName) {
    FRows.Rows = Rows;
    FRows.RowCount = RowCount;
    FRows.ItemName = ItemName;
}

void TQelAbout::AboutClick(QObject*) {
    std::unique_ptr<TQelAboutForm> form(QelCreateForm<TQelAboutForm>(MainForm, FRows));
    form->exec();
}
