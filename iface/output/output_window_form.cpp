// The output window's controls: their places, sized for a finger and an 800×480 screen, their
// keys, and the form kept in step with the setting text, which is what Check, Scan and Use take.
#include "output_kind.h"
#include "output_window.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStyle>
#include <QTextBlock>
#include <cstdio>

using namespace das;

namespace {

constexpr int kFinger = 40; // the least height of a control a finger presses

QString qs(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

template <class Control> Control *control(QWidget *parent, const char *name)
{
    auto *made = new Control(parent);
    made->setObjectName(name);
    made->setMinimumHeight(kFinger);
    return made;
}

QLabel *caption(const QString &text, QWidget *buddy)
{
    auto *label = new QLabel(text, buddy->parentWidget());
    label->setBuddy(buddy);
    return label;
}

} // namespace

void OutputWindow::build()
{
    setWindowTitle(tr("Brivane Output"));
    m_inForce = new QLabel(this);
    m_inForce->setWordWrap(true);
    m_list = control<QListWidget>(this, "targets");
    m_list->setStyleSheet(QString("QListWidget::item { min-height: %1px; }").arg(kFinger - 8));
    m_list->setWordWrap(true);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_lookAgain = control<QPushButton>(this, "lookAgain");
    m_lookAgain->setText(tr("&Look again"));
    m_kind = control<QComboBox>(this, "kind");
    for (const KindForm &form : kindForms())
        m_kind->addItem(qs(form.label), qs(form.kind));
    m_host = control<QLineEdit>(this, "host");
    m_host->setPlaceholderText(tr("optional"));
    m_interface = control<QLineEdit>(this, "interface");
    m_interface->setPlaceholderText(tr("routing table"));
    m_universe = control<QDoubleSpinBox>(this, "universe");
    m_universe->setDecimals(0);
    m_priority = control<QSpinBox>(this, "priority");
    for (const KindForm &form : kindForms())
        if (const KindOption *priority = kindOption(form.kind, "priority"))
            m_priority->setMaximum(std::max(m_priority->maximum(), int(priority->highest)));
    m_device = control<QLineEdit>(this, "device");
    m_setting = control<QLineEdit>(this, "setting");
    m_refusal = new QLabel(this);
    m_refusal->setObjectName("refusal");
    m_refusal->setWordWrap(true);
    m_refusal->setStyleSheet("color: #b00020");
    m_report = new QPlainTextEdit(this);
    m_report->setObjectName("report");
    m_report->setReadOnly(true);
    m_report->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_report->setPlaceholderText(tr("Check (Enter) says here whether the console's interface "
                                    "button would open the setting, and if not, why; Scan, what "
                                    "is there to drive; Use, where the setting is saved."));
    m_icon = new QLabel(this);
    m_icon->setFixedSize(32, 32);
    m_verdict = new QLabel(this);
    m_verdict->setObjectName("verdict");
    m_busy = new QProgressBar(this);
    m_busy->setRange(0, 0);
    m_busy->setMaximumWidth(120);
    m_busy->hide();
    m_check = control<QPushButton>(this, "check");
    m_check->setText(tr("&Check"));
    m_scan = control<QPushButton>(this, "scan");
    m_scan->setText(tr("Sc&an"));
    m_use = control<QPushButton>(this, "use");
    m_use->setText(tr("&Use"));
    auto *close = control<QPushButton>(this, "close");
    close->setText(tr("Cl&ose"));
    // Enter checks wherever the focus is; Space presses the button that has it.
    for (QPushButton *button : { m_lookAgain, m_scan, m_use, close })
        button->setAutoDefault(false);
    m_check->setDefault(true);

    auto *form = new QGridLayout;
    m_numberLabel = caption({}, m_universe);
    const std::pair<QLabel *, QWidget *> cells[] = {
        { caption(tr("&Kind:"), m_kind), m_kind },
        { caption(tr("P&riority:"), m_priority), m_priority },
        { caption(tr("&Host:"), m_host), m_host },
        { caption(tr("&Interface:"), m_interface), m_interface },
        { m_numberLabel, m_universe },
        { caption(tr("&Device:"), m_device), m_device },
    };
    for (int i = 0; i < int(std::size(cells)); ++i) {
        form->addWidget(cells[i].first, i / 2, i % 2 * 2);
        form->addWidget(cells[i].second, i / 2, i % 2 * 2 + 1);
    }
    form->addWidget(caption(tr("&Setting:"), m_setting), 3, 0);
    form->addWidget(m_setting, 3, 1, 1, 3);
    form->addWidget(m_refusal, 4, 1, 1, 3);
    // The number's caption changes with the kind; its column keeps the widest, so nothing moves.
    int widest = 0;
    for (const KindForm &kind : kindForms())
        widest = std::max(
            widest, fontMetrics().horizontalAdvance(QString(qs(kind.number) + ":").remove('&')));
    form->setColumnMinimumWidth(0, widest);
    form->setColumnStretch(1, 1);
    form->setColumnStretch(3, 1);
    form->setRowStretch(5, 1);
    auto *left = new QVBoxLayout;
    left->addWidget(caption(tr("This &machine can send to:"), m_list));
    left->addWidget(m_list, 1);
    left->addWidget(m_lookAgain);
    auto *top = new QHBoxLayout;
    top->addLayout(left, 2);
    top->addLayout(form, 3);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_icon);
    bottom->addWidget(m_verdict);
    bottom->addWidget(m_busy);
    bottom->addStretch(1);
    for (QPushButton *button : { m_check, m_scan, m_use, close })
        bottom->addWidget(button);
    auto *whole = new QVBoxLayout(this);
    whole->addWidget(m_inForce);
    whole->addLayout(top);
    whole->addWidget(m_report, 1);
    whole->addLayout(bottom);

    QWidget *order[] = { m_list, m_lookAgain, m_kind, m_priority, m_host, m_interface, m_universe,
        m_device, m_setting, m_check, m_scan, m_use, close, m_report };
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    // By selection, not the current row, which the list sets by itself when it takes the focus.
    connect(m_list, &QListWidget::itemSelectionChanged, this, &OutputWindow::choose);
    connect(m_lookAgain, &QPushButton::clicked, this, &OutputWindow::lookAround);
    connect(m_check, &QPushButton::clicked, this, &OutputWindow::check);
    connect(m_scan, &QPushButton::clicked, this, &OutputWindow::scan);
    connect(m_use, &QPushButton::clicked, this, &OutputWindow::use);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_kind, &QComboBox::currentIndexChanged, this, &OutputWindow::kindChanged);
    for (QLineEdit *edit : { m_host, m_device, m_interface })
        connect(edit, &QLineEdit::textChanged, this, &OutputWindow::fieldsChanged);
    connect(m_universe, &QDoubleSpinBox::valueChanged, this, &OutputWindow::fieldsChanged);
    connect(m_priority, &QSpinBox::valueChanged, this, &OutputWindow::fieldsChanged);
    connect(m_setting, &QLineEdit::textEdited, this, &OutputWindow::settingEdited);
    connect(m_setting, &QLineEdit::textChanged, this, &OutputWindow::settingChanged);
    kindChanged();
    showForm(FormValues {});
}

void OutputWindow::showOnScreen()
{
    const QSize size(800, 480), frame(40, 60);
    const QRect area = screen()->availableGeometry();
    if (area.width() >= size.width() + frame.width()
        && area.height() >= size.height() + frame.height())
        return resize(size), show();
    setGeometry(area);
    showMaximized();
}

void OutputWindow::choose()
{
    const int row = m_list->currentRow();
    if (m_list->selectedItems().isEmpty() || row < 0 || row >= int(m_targets.size()))
        return;
    const Target &target = m_targets[size_t(row)];
    FormValues values = formShown();
    const bool network = kindForm(values.kind).interface;
    values.kind = !target.kind.empty() ? target.kind
        : network                      ? values.kind
                                       : std::string(defaultOutputKind().name);
    values.interface = target.interface;
    values.device = target.device;
    values.host.clear();
    showForm(values);
    fieldsChanged();
}

void OutputWindow::kindChanged()
{
    const KindForm &form = kindForm(m_kind->currentData().toString().toStdString());
    m_host->setEnabled(form.host);
    m_interface->setEnabled(form.interface);
    m_device->setEnabled(form.device);
    // A kind without a priority or number leaves the other kinds' values as they were.
    const KindOption *priority = kindOption(form.kind, "priority");
    m_priority->setEnabled(priority);
    if (priority)
        m_priority->setRange(int(priority->lowest), int(priority->highest));
    m_universe->setEnabled(!form.number.empty());
    if (!form.number.empty())
        m_universe->setRange(double(form.lowest), double(form.highest));
    if (!form.number.empty())
        m_numberLabel->setText(qs(form.number) + ":");
    m_device->setPlaceholderText(qs(form.deviceHint));
    fieldsChanged();
}

FormValues OutputWindow::formShown() const
{
    return { .kind = m_kind->currentData().toString().toStdString(),
        .host = m_host->text().trimmed().toStdString(),
        .interface = m_interface->text().trimmed().toStdString(),
        .device = m_device->text().trimmed().toStdString(),
        .port = m_port,
        .universe = int64_t(m_universe->value()),
        .priority = m_priority->value() };
}

void OutputWindow::showForm(const FormValues &values)
{
    m_filling = true;
    m_kind->setCurrentIndex(m_kind->findData(qs(values.kind)));
    m_host->setText(qs(values.host));
    m_interface->setText(qs(values.interface));
    m_device->setText(qs(values.device));
    m_port = values.port;
    m_universe->setValue(double(values.universe));
    m_priority->setValue(values.priority);
    m_filling = false;
}

void OutputWindow::fieldsChanged()
{
    if (!m_filling)
        m_setting->setText(qs(settingText(formShown())));
}

// Typed into the setting directly: the fields follow when the library takes it.
void OutputWindow::settingEdited()
{
    std::string why;
    if (const auto config = parseOutputConfig(m_setting->text().toStdString(), why))
        showForm(formValues(*config));
}

void OutputWindow::settingChanged()
{
    const std::string why = settingRefusal(m_setting->text().toStdString());
    m_refusal->setText(qs(why));
}

void OutputWindow::say(const std::string &line, const QColor &colour)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    QTextCharFormat format;
    if (colour.isValid())
        format.setForeground(colour);
    QTextCursor cursor(m_report->document());
    cursor.movePosition(QTextCursor::End);
    if (!m_report->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(qs(line), format);
}

void OutputWindow::showVerdict(const QString &text, int icon, const QColor &colour)
{
    m_icon->setPixmap(
        icon < 0 ? QPixmap() : style()->standardIcon(QStyle::StandardPixmap(icon)).pixmap(32));
    m_verdict->setText(text);
    QFont font = m_verdict->font();
    font.setBold(colour.isValid());
    m_verdict->setFont(font);
    m_verdict->setStyleSheet(colour.isValid() ? "color: " + colour.name() : QString());
}
