#include "ui/main/about.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QtMath>

namespace vir05 {

bool HelpClick(const QString& programDir, const std::function<bool(const QUrl&)>& open,
               const std::function<void(const QString&)>& caption) {
    const QString path = QDir(programDir).filePath(kHelpFileName);
    if (!QFileInfo(path).isFile()) return false;
    const QUrl url = QUrl::fromLocalFile(path);
    const bool opened = open ? open(url) : QDesktopServices::openUrl(url);
    if (!opened && caption)
        caption("Справка " + QDir::toNativeSeparators(path) +
                " есть, но программа для её просмотра не найдена");
    return true;
}

TAboutGauge::TAboutGauge(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
    setObjectName("AboutGauge");
    setFixedSize(120, 72);
    timer_->setInterval(40);
    connect(timer_, &QTimer::timeout, this, &TAboutGauge::Step);
}

bool TAboutGauge::Running() const {
    return timer_->isActive();
}

void TAboutGauge::Step() {
    value_ += 2 * direction_;
    if (value_ >= 100) {
        value_ = 100;
        direction_ = -1;
    } else if (value_ <= 0) {
        value_ = 0;
        direction_ = 1;
    }
    update();
}

void TAboutGauge::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    timer_->start();
}

void TAboutGauge::hideEvent(QHideEvent* event) {
    timer_->stop();
    QWidget::hideEvent(event);
}

void TAboutGauge::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF dial(10, 10, width() - 20, (width() - 20));
    // The scale: a half circle from cold (blue) to hot (red).
    for (int i = 0; i < 10; ++i) {
        p.setPen(QPen(QColor::fromHsv(240 - i * 24, 200, 230), 6, Qt::SolidLine, Qt::FlatCap));
        p.drawArc(dial, (180 - i * 18) * 16, -18 * 16);
    }
    const QPointF centre = dial.center();
    const double angle = qDegreesToRadians(180.0 - 1.8 * value_);
    const double r = dial.width() / 2 - 8;
    p.setPen(QPen(palette().color(QPalette::WindowText), 2));
    p.drawLine(centre, centre + QPointF(r * qCos(angle), -r * qSin(angle)));
    p.setBrush(palette().color(QPalette::WindowText));
    p.drawEllipse(centre, 3, 3);
}

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent), gauge_(new TAboutGauge(this)) {
    setObjectName("TAboutBox");
    setWindowTitle("О программе");
    auto* layout = new QVBoxLayout(this);
    auto label = [this, layout](const char* name, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(name);
        l->setAlignment(Qt::AlignCenter);
        layout->addWidget(l);
        return l;
    };
    QLabel* title = label("ProductName", "VIR05Win");
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    label("Comments", "Сервисная программа контроллера отопления ВИР-05");
    label("Version", QString("Версия ") + kProgramVersion);
    layout->addWidget(gauge_, 0, Qt::AlignHCenter);
    label("Contacts", "Служба поддержки ВИР-05");
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("OKButton");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
}

void AboutMnuClick(QWidget* parent) {
    TAboutBox box(parent);
    box.exec();
}

}  // namespace vir05
