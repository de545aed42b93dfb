// The pages of the main window, one class per Designer form (ui/main/page_*.ui).
//
// Each page owns its generated form and reaches its widgets through it. What the user asks for
// on a page leaves it as a signal named after the wish; the controllers of the pages
// (ArchiveView, ServiceActions, EmulationPage) and the window session connect to those signals
// and to the page's widgets through Form(). The binder still fills and reads the fields by
// object name (binder.h), walking the field tables.
#pragma once

#include <QWidget>
#include <memory>

class QTableView;

namespace Ui {
class PageCurrent;
class PageArchive;
class PageEvents;
class PageChart;
class PageService;
class PageCircuits;
class PagePumps;
// "Ручное управление".
class PageManual;
// "Сигнализирование".
class PageSignal;
class PageEmulation;
}  // namespace Ui

namespace vir05 {

// A page built from its Designer form F, which it owns; the widgets are reached through Form().
template <typename F>
class FormPage : public QWidget {
  public:
    explicit FormPage(QWidget* parent = nullptr);
    ~FormPage() override;
    F& Form() const { return *ui_; }

  protected:
    std::unique_ptr<F> ui_;
};

// "Текущие".
class PageCurrent : public FormPage<Ui::PageCurrent> {
  public:
    explicit PageCurrent(QWidget* parent = nullptr);
};

// "Архив": the archive grid StringGrid1.
class PageArchive : public FormPage<Ui::PageArchive> {
  public:
    using FormPage::FormPage;
    QTableView* Grid() const;
};

// "Архив событий" (service mode): the event grid StringGridE.
class PageEvents : public FormPage<Ui::PageEvents> {
  public:
    using FormPage::FormPage;
};

// "График": the archive chart, its series check boxes and the print button.
class PageChart : public FormPage<Ui::PageChart> {
    Q_OBJECT

  public:
    explicit PageChart(QWidget* parent = nullptr);

  signals:
    void printRequested();
};

// "Сервисные настройки" (service mode): calibrations, archive erase, clock, serial number and
// reboot. ServiceActions asks and starts the commands.
class PageService : public FormPage<Ui::PageService> {
    Q_OBJECT

  public:
    explicit PageService(QWidget* parent = nullptr);

  signals:
    void calibrateShortRequested();
    void calibrate100Requested();
    void archiveEraseRequested();
    void clockSetRequested();
    void serialWriteRequested();
    void rebootRequested();
};

// "Настройки контуров": the value graph editor opens on "Просмотр" (graph 0).
class PageCircuits : public FormPage<Ui::PageCircuits> {
    Q_OBJECT

  public:
    explicit PageCircuits(QWidget* parent = nullptr);

  signals:
    void valueGraphRequested(int graph);
};

// "Насосы": "Просмотр графика 1,2" and "Просмотр графика 3,4" open graphs 1 and 2.
class PagePumps : public FormPage<Ui::PagePumps> {
    Q_OBJECT

  public:
    explicit PagePumps(QWidget* parent = nullptr);

  signals:
    void valueGraphRequested(int graph);
};

// "Ручное управление".
class PageManual : public FormPage<Ui::PageManual> {
  public:
    using FormPage::FormPage;
};

// "Сигнализирование".
class PageSignal : public FormPage<Ui::PageSignal> {
  public:
    using FormPage::FormPage;
};

// "Эмуляция системы" (service mode); EmulationPage runs the plant model over it.
class PageEmulation : public FormPage<Ui::PageEmulation> {
    Q_OBJECT

  public:
    explicit PageEmulation(QWidget* parent = nullptr);

  signals:
    void emulationToggled(bool on);
    void chartClearRequested();
    void chartRecordRequested();
};

}  // namespace vir05
