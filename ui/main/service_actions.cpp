#include "ui/main/service_actions.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>

#include "core/format.h"
#include "core/protocol/link_request.h"
#include "model/bytes.h"
#include "model/layout.h"
#include "model/memory.h"
#include "ui/connect/connect.h"
#include "ui/main/pages.h"
#include "ui/main/vir_cfg.h"
#include "ui_page_service.h"

namespace vir05 {

bool ConfirmOperation(QWidget* parent, const QString& text) {
    return QMessageBox::question(parent, QString::fromUtf8(kConfirmTitle), text,
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Cancel) == QMessageBox::Ok;
}

void WireServiceToWindow(ServiceActions& actions, TFormCfg& window, TFormConnect& connection) {
    QObject::connect(&actions, &ServiceActions::serviceCommandRequested, &window,
                     [&window] { window.SetReadPanelVisible(false); });
    QObject::connect(&actions, &ServiceActions::captionChanged, &window, &TFormCfg::SetCaption);
    ServiceQueries q = actions.Queries();
    q.texts = [&connection] { return connection.Texts(); };
    actions.SetQueries(std::move(q));
}

ServiceActions::ServiceActions(PageService* page, std::uint8_t* image, ServiceQueries queries,
                               QObject* parent)
    : QObject(parent), page_(page), image_(image), queries_(std::move(queries)) {
    if (!page) return;
    connect(page, &PageService::calibrateShortRequested, this, &ServiceActions::Klb_KZClick);
    connect(page, &PageService::calibrate100Requested, this, &ServiceActions::Klb_100Click);
    connect(page, &PageService::archiveEraseRequested, this, &ServiceActions::ClrStatClick);
    connect(page, &PageService::clockSetRequested, this, &ServiceActions::SetTimeClick);
    connect(page, &PageService::serialWriteRequested, this, &ServiceActions::NextSerialClick);
    connect(page, &PageService::rebootRequested, this, &ServiceActions::ResetClick);
    nextSerial_ = page->Form().NextSerial;
    serialN_ = page->Form().SerialN;
    // Only the arrows (and the arrow keys) choose a number; typing does not.
    serialN_->installEventFilter(this);
    connect(serialN_, &QSpinBox::valueChanged, this, [this] {
        if (arrowPressed_) SerialNClick();
    });
}

bool ServiceActions::eventFilter(QObject* watched, QEvent* event) {
    if (watched == serialN_) {
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: {
                // The spin box itself receives only the presses outside its text field: those
                // on the arrow buttons.
                const auto* m = static_cast<QMouseEvent*>(event);
                const auto* edit = serialN_->findChild<QLineEdit*>();
                arrowPressed_ = !edit || !edit->geometry().contains(m->position().toPoint());
                break;
            }
            case QEvent::MouseButtonRelease:
            case QEvent::FocusOut:
                arrowPressed_ = false;
                break;
            case QEvent::KeyPress: {
                const int key = static_cast<QKeyEvent*>(event)->key();
                arrowPressed_ = key == Qt::Key_Up || key == Qt::Key_Down;
                break;
            }
            case QEvent::KeyRelease:
                arrowPressed_ = false;
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool ServiceActions::Confirm(const QString& text) const {
    if (queries_.confirm) return queries_.confirm(text);
    return ConfirmOperation(page_ ? page_->window() : nullptr, text);
}

std::string ServiceActions::SerialLineNote(const ConnectionTexts& t, bool serialLine) {
    if (!serialLine || t.transport == Transport::Rs485) return {};
    return "RS485 " + t.port;
}

void ServiceActions::Run(int command, bool serialLine, const std::string& prefix) {
    const ConnectionTexts t = queries_.texts ? queries_.texts() : ConnectionTexts{};
    emit serviceCommandRequested(command, serialLine);
    // The port text is named also when the command goes over TCP; a command that goes to the
    // serial line while another connection is chosen says so.
    const std::string note = SerialLineNote(t, serialLine);
    const std::string port = note.empty() ? t.port : note;
    emit captionChanged(QString::fromStdString(prefix + port + ", Адр:" + t.netAddr + ")"));
}

void ServiceActions::Action(const QString& question, int command, bool serialLine,
                            const std::string& prefix) {
    const ConnectionTexts t = queries_.texts ? queries_.texts() : ConnectionTexts{};
    QString text = question;
    if (!SerialLineNote(t, serialLine).empty())
        text += QString::fromStdString("\n\nКоманда пойдёт через порт " + t.port +
                                       " (RS485), а не через выбранное подключение.");
    if (!Confirm(text)) return;
    Run(command, serialLine, prefix);
}

void ServiceActions::Klb_KZClick() {
    Action("Провести калибровку на закороченом шлейфе?", command::ServiceCalibrateShort, true,
           "Калибровка К.З. (");
}

void ServiceActions::Klb_100Click() {
    Action("Провести калибровку на резисторе=500(100) ом?", command::ServiceCalibrate100, true,
           "Калибровка 500 (100) (");
}

void ServiceActions::ClrStatClick() {
    Action("Стереть архив прибора?", command::ServiceEraseArchives, false, "Стирание архива (");
}

void ServiceActions::SetTimeClick() {
    Action("Загрузить системное время в прибор?", command::SetClock, false, "Коррекция времени (");
}

void ServiceActions::ResetClick() {
    Action("Провести перезагрузку?", command::ServiceReboot, true, "Перезагрузка (");
}

QString ServiceActions::NextSerialText() const {
    return nextSerial_ ? nextSerial_->text() : QString();
}

void ServiceActions::NextSerialClick() {
    const QString caption = NextSerialText();
    const ConnectionTexts shownTexts = queries_.texts ? queries_.texts() : ConnectionTexts{};
    QString question = "Записать новый S/N " + caption;
    if (!SerialLineNote(shownTexts, true).empty())
        question += QString::fromStdString("\n\nКоманда пойдёт через порт " + shownTexts.port +
                                           " (RS485), а не через выбранное подключение.");
    if (!Confirm(question)) return;
    const std::optional<std::int32_t> chosen = ParseInt(caption.toStdString());
    const std::int32_t current = image_ ? I32(image_, addr::DevNumber) : kDefaultSerialNumber;
    const ConnectionTexts t = queries_.texts ? queries_.texts() : ConnectionTexts{};
    const std::string note = SerialLineNote(t, true);
    if (current != kDefaultSerialNumber) {
        const QString second =
            chosen && *chosen == current
                ? "Текущий серийный номер равен новому! Записать все равно?"
                : "Текущий серийный номер - не номер по умолчению! Записать все равно?";
        if (!Confirm(second)) return;
    }
    // A caption that is not a number (a damaged settings file) would give the controller the
    // serial number 0: nothing is written then.
    if (!chosen || !image_) {
        emit captionChanged("Ошибка: серийный номер \"" + caption + "\" - не число");
        return;
    }
    // The link sends the four bytes at DevNumber from the image.
    if (!(queries_.linkBusy && queries_.linkBusy())) {
        serialBefore_ = current;
        PutI32(image_, addr::DevNumber, *chosen);
    }
    emit serviceCommandRequested(command::WriteSerial, true);
    const std::string port = note.empty() ? std::string() : " (" + note;
    emit captionChanged(QString::fromStdString("Запись S/N " + caption.toStdString() + port +
                                               ", Адр:" + t.netAddr + ")"));
}

void ServiceActions::SerialWriteEnded(bool succeeded) {
    if (!succeeded && serialBefore_ && image_) PutI32(image_, addr::DevNumber, *serialBefore_);
    serialBefore_.reset();
}

void ServiceActions::SerialNClick() {
    if (!serialN_ || !nextSerial_) return;
    const std::string number = std::to_string(serialN_->value());
    nextSerial_->setText(QString::fromStdString(number));
    emit nextSerialChosen(number);
}

}  // namespace vir05
