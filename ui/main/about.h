// The menu commands "Справка" and "Версия": the help page beside the program and the about box.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QTimer;
class QUrl;

namespace vir05 {

inline constexpr const char* kHelpFileName = "vir05.html";
inline constexpr const char* kProgramVersion = "1.0.0";

// Opens the help page of `programDir` with the desktop's viewer (`open`, or
// QDesktopServices::openUrl when empty). A missing file is not reported. Returns whether the
// viewer was asked.
// When the page is there but nothing opens it (no viewer), `caption` is told so, as the
// spreadsheet export does.
bool HelpClick(const QString& programDir, const std::function<bool(const QUrl&)>& open = {},
               const std::function<void(const QString&)>& caption = {});

// A small gauge whose needle sweeps to and fro while it is shown.
class TAboutGauge : public QWidget {
    Q_OBJECT

  public:
    explicit TAboutGauge(QWidget* parent = nullptr);
    // The needle's position, 0 to 100.
    int Value() const { return value_; }
    bool Running() const;
    // One step of the animation (the timer's tick).
    void Step();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QTimer* timer_;
    int value_ = 0;
    int direction_ = 1;
};

// The about box: name, version, contacts and the gauge.
class TAboutBox : public QDialog {
    Q_OBJECT

  public:
    explicit TAboutBox(QWidget* parent = nullptr);
    TAboutGauge* Gauge() const { return gauge_; }

  private:
    TAboutGauge* gauge_;
};

// "Версия": shows the about box modally.
void AboutMnuClick(QWidget* parent);

}  // namespace vir05
