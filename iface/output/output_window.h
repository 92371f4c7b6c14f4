// The output window: what this machine can send to, a form that makes the setting, and Check,
// Scan and Use. Check and Scan run the library's own report off the window's thread and show it
// line for line as brivane-check prints it; Use writes the user's settings file.
#pragma once

#include "machine_list.h"
#include "setting_form.h"
#include "settings_file.h"

#include <QDialog>
#include <functional>
#include <vector>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

class OutputWindow : public QDialog
{
    Q_OBJECT

public:
    explicit OutputWindow(QWidget *parent = nullptr);
    ~OutputWindow() override; // waits for a check or scan still running

    // Shows the window at 800×480, or filling the screen's free area where that leaves no room
    // for a frame (an 800×480 touchscreen).
    void showOnScreen();

private:
    // What a job off the window's thread brings back: a report's lines and how it ended (DAS OK
    // or DAS NG, a scan clean or warned of), or what the machine has.
    struct Report
    {
        std::vector<std::string> lines;
        bool good = false;
        std::vector<das::Target> targets;
    };

    void build();
    void lookAround();
    void check();
    void scan();
    void use();
    void choose();
    void kindChanged();
    void fieldsChanged();
    void settingEdited();
    void settingChanged();
    void showInForce(bool fillForm);
    void showForm(const das::FormValues &values);
    das::FormValues formShown() const;
    void say(const std::string &line, const QColor &colour = {});
    void showVerdict(const QString &text, int icon, const QColor &colour);
    void offThread(const QString &busy, std::function<Report()> work,
        std::function<void(const Report &)> done);

    das::SettingsFile m_file;
    std::vector<das::Target> m_targets;
    QThread *m_work = nullptr;
    bool m_filling = false; // the fields are being set from the setting, not by the operator
    uint16_t m_port = 0; // a UDP port the setting names, kept while the fields change
    QLabel *m_inForce, *m_numberLabel, *m_refusal, *m_icon, *m_verdict;
    QListWidget *m_list;
    QComboBox *m_kind;
    QLineEdit *m_host, *m_interface, *m_device, *m_setting;
    QDoubleSpinBox *m_universe; // up to OLA's 4294967295, past a QSpinBox's int
    QSpinBox *m_priority;
    QPlainTextEdit *m_report;
    QProgressBar *m_busy;
    QPushButton *m_lookAgain, *m_check, *m_scan, *m_use;
};
