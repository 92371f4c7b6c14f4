// The output window's behaviour: the form and the setting kept in step, the jobs off the
// window's thread, and each report shown and printed on standard output as it is shown.
#include "output_window.h"

#include "check_report.h"
#include "dashard.h"
#include "output_kind.h"
#include "setting_form.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace das;

namespace {

const QColor kGood(0x1b, 0x7a, 0x1b), kBad(0xb0, 0x00, 0x20), kWarn(0x9a, 0x55, 0x00);

QString qs(const std::string &text) { return QString::fromStdString(text); }

// The user's own settings file, the first one the library looks in; empty without a home.
std::string userFile()
{
    for (const char *name : { "XDG_CONFIG_HOME", "HOME" })
        if (const char *dir = std::getenv(name); dir && dir[0] == '/')
            return outputSettingFiles().front();
    return {};
}

} // namespace

OutputWindow::OutputWindow(QWidget *parent)
    : QDialog(parent)
{
    build();
    m_file.path = userFile();
    std::string why;
    if (!m_file.path.empty() && !readSettingsFile(m_file, why))
        say(why, kBad);
    showInForce(true);
    lookAround();
}

OutputWindow::~OutputWindow()
{
    if (m_work)
        m_work->wait(), delete m_work;
}

void OutputWindow::offThread(
    const QString &busy, std::function<Report()> work, std::function<void(const Report &)> done)
{
    // One job at a time. The buttons stay enabled, so that the keyboard's focus stays where it
    // was and a second press of Space cannot land on the next button, Use.
    if (m_work)
        return;
    showVerdict(busy, -1, {});
    m_busy->show();
    auto report = std::make_shared<Report>();
    m_work = QThread::create([report, work] { *report = work(); });
    connect(m_work, &QThread::finished, this, [this, report, done] {
        m_work->deleteLater();
        m_work = nullptr;
        m_busy->hide();
        done(*report);
    });
    m_work->start();
}

void OutputWindow::lookAround()
{
    offThread(
        tr("Looking for outputs…"),
        [] {
            return Report { {}, false, findTargets() };
        },
        [this](const Report &report) {
            m_targets = report.targets;
            m_list->clear();
            for (const Target &target : m_targets) {
                std::printf("Found: %s\n", target.text.c_str());
                m_list->addItem(qs(target.text));
            }
            std::fflush(stdout);
            showVerdict({}, -1, {});
        });
}

void OutputWindow::check()
{
    const std::string text = m_setting->text().toStdString();
    const std::string from = "this window; Use saves it to " + m_file.path;
    offThread(
        tr("Checking…"),
        [text, from] {
            Report report { { checkLine("Setting", text), checkLine("From", from) }, false, {} };
            std::string why;
            const auto config = parseOutputConfig(text, why);
            report.good = reportCheck(
                config, why, [&](const std::string &line) { report.lines.push_back(line); });
            return report;
        },
        [this](const Report &report) {
            m_report->clear();
            for (std::size_t i = 0; i < report.lines.size(); ++i)
                say(report.lines[i],
                    i + 1 < report.lines.size() ? QColor()
                        : report.good           ? kGood
                                                : kBad);
            showVerdict(report.good ? DAS_CAPTION_OK : DAS_CAPTION_NG,
                report.good ? QStyle::SP_DialogApplyButton : QStyle::SP_MessageBoxCritical,
                report.good ? kGood : kBad);
        });
}

void OutputWindow::scan()
{
    const std::string text = m_setting->text().toStdString();
    offThread(
        tr("Scanning…"),
        [text] {
            Report report { { checkLine("Setting", text) }, false, {} };
            std::string why;
            const auto config = parseOutputConfig(text, why);
            if (!config)
                report.lines.push_back(checkLine("Refused", why));
            const auto out = [&](const std::string &line) { report.lines.push_back(line); };
            report.good = reportScan(config ? &*config : nullptr, out);
            return report;
        },
        [this](const Report &report) {
            m_report->clear();
            bool warned = false;
            for (const std::string &line : report.lines) {
                const bool warning = line.starts_with("Warning");
                warned = warned || warning;
                say(line, warning ? kWarn : QColor());
            }
            showVerdict(warned ? tr("Warned") : tr("Scanned"),
                warned ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation,
                warned ? kWarn : QColor());
        });
}

void OutputWindow::use()
{
    const std::string text = m_setting->text().toStdString();
    const auto before = m_file.text;
    std::string why = settingRefusal(text);
    if (!why.empty())
        why = "bad output setting \"" + text + "\": " + why;
    else if (m_file.path.empty())
        why = "neither HOME nor XDG_CONFIG_HOME names a folder to keep it in";
    int line = 0;
    m_report->clear();
    const bool saved = why.empty() && writeSetting(m_file, text, line, why);
    if (saved) {
        say("Saved " + text + " in " + m_file.path + ", line " + std::to_string(line)
                + ". The console takes it at the next press of its interface button.",
            kGood);
        if (const char *variable = std::getenv("DASHARD_OUTPUT"); variable && *variable)
            say("But DASHARD_OUTPUT is set to " + std::string(variable)
                    + " here, and wins over the file: a console started with it sends there.",
                kWarn);
    } else {
        say("Not saved: " + why + ". The file is as it was.", kBad);
        if (readSettingsFile(m_file, why) && m_file.text != before)
            say("The window has read the file again: press Use once more to replace its "
                "setting.");
    }
    showVerdict(saved ? tr("Saved") : tr("Not saved"),
        saved ? QStyle::SP_DialogSaveButton : QStyle::SP_MessageBoxCritical, saved ? kGood : kBad);
    showInForce(false);
}

void OutputWindow::showInForce(bool fillForm)
{
    OutputSetting setting;
    std::string why;
    const auto config = findOutputSetting(setting, why);
    const bool byDefault = setting.source == SettingSource::Default;
    const std::string what = !config ? "nothing"
        : byDefault                  ? outputKind(*config).describe(*config)
                                     : setting.text;
    const std::string whence = !config ? why : (byDefault ? "" : "from ") + sourceText(setting);
    m_inForce->setText(tr("In force now: %1 (%2)").arg(qs(what), qs(whence)));
    if (fillForm) {
        m_setting->setText(
            qs(config && setting.source == SettingSource::Default ? settingText(formValues(*config))
                                                                  : setting.text));
        settingEdited();
    }
}
