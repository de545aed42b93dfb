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

// "Текущие".
class PageCurrent : public QWidget {
    Q_OBJECT

  public:
    explicit PageCurrent(QWidget* parent = nullptr);
    ~PageCurrent() override;
    Ui::PageCurrent& Form() const { return *ui_; }

  private:
    std::unique_ptr<Ui::PageCurrent> ui_;
};

// "Архив": the archive grid StringGrid1.
class PageArchive : public QWidget {
    Q_OBJECT

  public:
    explicit PageArchive(QWidget* parent = nullptr);
    ~PageArchive() override;
    Ui::PageArchive& Form() const { return *ui_; }
    QTableView* Grid() const;

  private:
    std::unique_ptr<Ui::PageArchive> ui_;
};

// "Архив событий" (service mode): the event grid StringGridE.
class PageEvents : public QWidget {
    Q_OBJECT

  public:
    explicit PageEvents(QWidget* parent = nullptr);
    ~PageEvents() override;
    Ui::PageEvents& Form() const { return *ui_; }

  private:
    std::unique_ptr<Ui::PageEvents> ui_;
};

// "График": the archive chart, its series check boxes and the print button.
class PageChart : public QWidget {
    Q_OBJECT

  public:
    explicit PageChart(QWidget* parent = nullptr);
    ~PageChart() override;
    Ui::PageChart& Form() const { return *ui_; }

  signals:
    void printRequested();

  private:
    std::unique_ptr<Ui::PageChart> ui_;
};

// "Сервисные настройки" (service mode): calibrations, archive erase, clock, serial number and
// reboot. ServiceActions asks and starts the commands.
class PageService : public QWidget {
    Q_OBJECT

  public:
    explicit PageService(QWidget* parent = nullptr);
    ~PageService() override;
    Ui::PageService& Form() const { return *ui_; }

  signals:
    void calibrateShortRequested();
    void calibrate100Requested();
    void archiveEraseRequested();
    void clockSetRequested();
    void serialWriteRequested();
    void rebootRequested();

  private:
    std::unique_ptr<Ui::PageService> ui_;
};

// "Настройки контуров": the value graph editor opens on "Просмотр" (graph 0).
class PageCircuits : public QWidget {
    Q_OBJECT

  public:
    explicit PageCircuits(QWidget* parent = nullptr);
    ~PageCircuits() override;
    Ui::PageCircuits& Form() const { return *ui_; }

  signals:
    void valueGraphRequested(int graph);

  private:
    std::unique_ptr<Ui::PageCircuits> ui_;
};

// "Насосы": "Просмотр графика 1,2" and "Просмотр графика 3,4" open graphs 1 and 2.
class PagePumps : public QWidget {
    Q_OBJECT

  public:
    explicit PagePumps(QWidget* parent = nullptr);
    ~PagePumps() override;
    Ui::PagePumps& Form() const { return *ui_; }

  signals:
    void valueGraphRequested(int graph);

  private:
    std::unique_ptr<Ui::PagePumps> ui_;
};

// "Ручное управление".
class PageManual : public QWidget {
    Q_OBJECT

  public:
    explicit PageManual(QWidget* parent = nullptr);
    ~PageManual() override;
    Ui::PageManual& Form() const { return *ui_; }

  private:
    std::unique_ptr<Ui::PageManual> ui_;
};

// "Сигнализирование".
class PageSignal : public QWidget {
    Q_OBJECT

  public:
    explicit PageSignal(QWidget* parent = nullptr);
    ~PageSignal() override;
    Ui::PageSignal& Form() const { return *ui_; }

  private:
    std::unique_ptr<Ui::PageSignal> ui_;
};

// "Эмуляция системы" (service mode); EmulationPage runs the plant model over it.
class PageEmulation : public QWidget {
    Q_OBJECT

  public:
    explicit PageEmulation(QWidget* parent = nullptr);
    ~PageEmulation() override;
    Ui::PageEmulation& Form() const { return *ui_; }

  signals:
    void emulationToggled(bool on);
    void chartClearRequested();
    void chartRecordRequested();

  private:
    std::unique_ptr<Ui::PageEmulation> ui_;
};

}  // namespace vir05
