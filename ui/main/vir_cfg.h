// The main window: frame, menu, tool and progress panels, circuit switch and the pages.
//
// The window itself holds no controller data. The pages (pages.h) are filled and read through
// the binder (binder.h) by object name; everything the user asks for leaves the window or its
// pages as a signal, so the command cycle wires the window without reaching into its widgets.
#pragma once

#include <QMainWindow>
#include <memory>

#include "ui/main/pages.h"

class QTabWidget;
class QWidget;

namespace Ui {
class FormCfg;
}  // namespace Ui

namespace vir05 {

class TFormCfg : public QMainWindow {
    Q_OBJECT

  public:
    explicit TFormCfg(QWidget* parent = nullptr);
    ~TFormCfg() override;

    // The page control; every control the presentation sets lies below it.
    QWidget* Pages() const;
    QTabWidget* PageControl() const;
    PageCurrent* Current() const { return current_; }
    PageArchive* Archive() const { return archive_; }
    PageEvents* Events() const { return events_; }
    PageChart* Chart() const { return chart_; }
    PageService* Service() const { return service_; }
    PageCircuits* Circuits() const { return circuits_; }
    PagePumps* Pumps() const { return pumps_; }
    PageEmulation* Emulation() const { return emulation_; }

    void SetCaption(const QString& text);
    // The tool panel and the progress panel share the place at the left of the top panel.
    void SetReadPanelVisible(bool visible);
    void SetProgressPanelVisible(bool visible);
    bool ReadPanelVisible() const;
    bool ProgressPanelVisible() const;
    // Clamped to 0..100.
    void SetProgress(int percent);
    void SetRetryCount(int count);

    // The circuit shown: 0 or 1. Setting it does not emit the click signals.
    int Circuit() const;
    void SetCircuit(int circuit);

    // "Архив событий", "Сервисные настройки" and "Эмуляция системы": shown in service mode only.
    // The other pages keep their places.
    void SetServicePagesVisible(bool visible);
    // The configuration write: WriteCfg, ReWriteCfg and SpeedButtonSave.
    void SetWriteEnabled(bool enabled);
    // "Записать конфигурацию" (menu and tool button) and "Перезаписать конфигурацию" apart.
    void SetWriteEnabled(bool write, bool rewrite);
    // From now on "Коррекция" on the current-values page mirrors the setpoint constant TConst
    // (the session's choice: a bare window keeps every field as it is set).
    void WireKorrMirror();

  signals:
    void OpenClick();
    void SaveClick();
    // Both export items; `hourly` for "Экспорт в Excel часовые...".
    void Excel1Click(bool hourly);
    void ReadTekClick();
    void ReadCycleClick();
    void ReadArchClick();
    // `rewrite` for ReWriteCfg: every byte is sent, not only the changed ones.
    void WriteCfgClick(bool rewrite);
    void N2Click();
    void AboutMnuClick();
    void HelpClick();
    void StopButtonClick();
    void ErrCountClick();
    // The user chose circuit 1 or circuit 2 (only on a change).
    void RadioButtonS0Click();
    void RadioButtonS1Click();
    // The window is being closed; receivers stop the link before this returns.
    void FormClose();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void BuildPages();
    void Wire();

    std::unique_ptr<Ui::FormCfg> ui_;
    // The pages belong to the page control.
    PageCurrent* current_ = nullptr;
    PageArchive* archive_ = nullptr;
    PageEvents* events_ = nullptr;
    PageChart* chart_ = nullptr;
    PageService* service_ = nullptr;
    PageCircuits* circuits_ = nullptr;
    PagePumps* pumps_ = nullptr;
    PageManual* manual_ = nullptr;
    PageSignal* signal_ = nullptr;
    PageEmulation* emulation_ = nullptr;
    bool mirroring_ = false;
    bool centred_ = false;
};

}  // namespace vir05
