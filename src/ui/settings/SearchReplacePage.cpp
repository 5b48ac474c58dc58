#include "ui/settings/SearchReplacePage.h"

#include "ui/Look.h"
#include "ui/settings/FileChooser.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPointer>
#include <QTimer>

using namespace SettingsForm;

namespace {

QPushButton* flatButton(const QIcon& icon) {
    auto* button = new QPushButton(icon, QString());
    button->setFlat(true);
    return button;
}

} // namespace

SearchReplacePage::SearchReplacePage(SettingsViewModel& viewModel, QWidget* parent)
    : SettingsPage(viewModel, parent) {
    // Writing the decade label.
    m_writeSection = addSection(m_layout, false, true);
    m_writeDecade = new QCheckBox;
    m_writeSection.content->addWidget(m_writeDecade);
    connect(m_writeDecade, &QCheckBox::clicked, this,
            [this](bool on) { settings().setWriteDecadeToGenre(on); });

    // The decade rules.
    m_ruleSection = addSection(m_layout, false, true);
    m_ruleModel = new DecadeRuleTableModel(m_vm, this);
    m_ruleTable = makeTable(m_ruleModel);
    m_ruleTable->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    m_ruleTable->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_ruleTable->horizontalHeader()->setSectionResizeMode(DecadeRuleTableModel::labelColumn,
                                                          QHeaderView::Stretch);
    // Any year a rule may hold is shown whole.
    for (int column : {DecadeRuleTableModel::fromColumn, DecadeRuleTableModel::toColumn}) {
        m_ruleTable->horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    m_ruleSection.content->addWidget(m_ruleTable);
    connect(m_ruleTable, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (index.column() == DecadeRuleTableModel::removeColumn) {
            m_vm.removeRule(m_ruleModel->idAt(index.row()));
        }
    });
    const ButtonRow rules = addButtonRow(m_ruleSection.content);
    m_ruleAdd = rules.add;
    m_ruleExport = rules.exportButton;
    m_ruleImport = rules.importButton;
    m_ruleResult = rules.result;
    connect(m_ruleAdd, &QPushButton::clicked, this, [this] { m_vm.addRule(); });
    connectExchange(rules, &SettingsViewModel::defaultRulesFileName, &SettingsViewModel::exportDecadeRules,
                    &SettingsViewModel::importDecadeRules);
    // The footer: findings, then the note with Restore Defaults.
    m_findings = Look::plainLabel(nullptr);
    m_findings->setWordWrap(true);
    makeCaption(m_findings);
    Look::setTextColor(m_findings, QColor(255, 140, 0));
    m_layout->insertWidget(m_layout->indexOf(m_ruleSection.footer), m_findings);
    m_ruleNote = m_ruleSection.footer;
    m_ruleRestore = addRestoreButton(
        m_layout, m_ruleNote,
        {QStringLiteral("Standardregeln wiederherstellen?"), QStringLiteral("Restore the default rules?")},
        {QStringLiteral("Hinzugefügte, geänderte und importierte Regeln gehen verloren."),
         QStringLiteral("Added, changed and imported rules are lost.")},
        [this] { m_vm.restoreDefaultRules(); });

    // The genre lookup.
    m_lookupSection = addSection(m_layout, false, true);
    m_lookup = new QCheckBox;
    m_overwrite = new QCheckBox;
    m_lookupSection.content->addWidget(m_lookup);
    m_lookupSection.content->addWidget(m_overwrite);
    connect(m_lookup, &QCheckBox::clicked, this, [this](bool on) { settings().setEnableGenreLookup(on); });
    connect(m_overwrite, &QCheckBox::clicked, this,
            [this](bool on) { settings().setGenreOverwriteExisting(on); });

    // The genre mappings (only while the lookup is on).
    auto* mappingBox = new QWidget;
    auto* mappingLayout = new QVBoxLayout(mappingBox);
    mappingLayout->setContentsMargins(0, 0, 0, 0);
    const Section mappings = addSection(mappingLayout, false, true);
    m_layout->addWidget(mappingBox);
    m_mappingSection = mappingBox;
    m_apply = new QCheckBox;
    m_autoAdd = new QCheckBox;
    m_autoAddNote = makeNote();
    mappings.content->addWidget(m_apply);
    mappings.content->addWidget(m_autoAdd);
    mappings.content->addWidget(m_autoAddNote);
    connect(m_apply, &QCheckBox::clicked, this, [this](bool on) { settings().setApplyGenreMappings(on); });
    connect(m_autoAdd, &QCheckBox::clicked, this,
            [this](bool on) { settings().setAutoAddGenreMappings(on); });
    m_mappingModel = new GenreMappingTableModel(m_vm, this);
    m_mappingTable = makeTable(m_mappingModel);
    // As tall as its rows, up to 300.
    m_mappingTable->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    m_mappingTable->setMaximumHeight(300);
    m_mappingTable->horizontalHeader()->setSectionResizeMode(GenreMappingTableModel::sourceColumn,
                                                             QHeaderView::Stretch);
    m_mappingTable->horizontalHeader()->setSectionResizeMode(GenreMappingTableModel::targetColumn,
                                                             QHeaderView::Stretch);
    m_mappingTable->horizontalHeader()->setSectionsClickable(true);
    mappings.content->addWidget(m_mappingTable);
    connect(m_mappingTable->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        if (section == GenreMappingTableModel::sourceColumn) {
            m_vm.sortMappings(SettingsViewModel::GenreSortField::source);
        } else if (section == GenreMappingTableModel::targetColumn) {
            m_vm.sortMappings(SettingsViewModel::GenreSortField::target);
        } else {
            refresh(); // the header moved its chevron to the clicked column: put it back
        }
    });
    connect(m_mappingTable, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (index.column() == GenreMappingTableModel::removeColumn) {
            m_vm.removeMapping(m_mappingModel->idAt(index.row()));
        }
    });
    const ButtonRow mappingButtons = addButtonRow(mappings.content);
    m_mappingAdd = mappingButtons.add;
    m_mappingExport = mappingButtons.exportButton;
    m_mappingImport = mappingButtons.importButton;
    m_mappingResult = mappingButtons.result;
    connect(m_mappingAdd, &QPushButton::clicked, this, [this] {
        const QUuid id = m_vm.addMapping();
        QTimer::singleShot(50, m_mappingTable, [this, id] {
            const int row = m_mappingModel->rowOf(id);
            if (row >= 0) {
                m_mappingTable->scrollTo(m_mappingModel->index(row, 0), QAbstractItemView::PositionAtBottom);
            }
        });
    });
    connectExchange(mappingButtons, &SettingsViewModel::defaultMappingsFileName,
                    &SettingsViewModel::exportGenreMappings, &SettingsViewModel::importGenreMappings);
    m_mappingNote = mappings.footer;
    m_mappingRestore = addRestoreButton(
        mappingLayout, m_mappingNote,
        {QStringLiteral("Standard-Zuordnungen wiederherstellen?"),
         QStringLiteral("Restore the default genre mappings?")},
        {QStringLiteral("Hinzugefügte, geänderte und importierte Zuordnungen gehen verloren."),
         QStringLiteral("Added, changed and imported mappings are lost.")},
        [this] { m_vm.restoreDefaultMappings(); });
    m_layout->addStretch(1);

    retranslate();
    refresh();
}

void SearchReplacePage::connectExchange(const ButtonRow& row, QString (SettingsViewModel::*fileName)() const,
                                        void (SettingsViewModel::*exportTo)(const QString&),
                                        void (SettingsViewModel::*importFrom)(const QString&)) {
    // The chooser may answer after this screen is gone.
    const auto onChosen = [vm = QPointer(&m_vm)](void (SettingsViewModel::*operation)(const QString&)) {
        return [vm, operation](const QString& path) {
            if (vm && !path.isEmpty()) {
                (vm.data()->*operation)(path);
            }
        };
    };
    connect(row.exportButton, &QPushButton::clicked, this, [this, fileName, done = onChosen(exportTo)] {
        FileChooser::current().chooseSaveFile(this, (m_vm.*fileName)(), done);
    });
    connect(row.importButton, &QPushButton::clicked, this,
            [this, done = onChosen(importFrom)] { FileChooser::current().chooseOpenFile(this, done); });
}

QTableView* SearchReplacePage::makeTable(QAbstractItemModel* model) {
    auto* table = new QTableView;
    table->setModel(model);
    table->verticalHeader()->hide();
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                           QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->horizontalHeader()->setHighlightSections(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->horizontalHeader()->setDefaultSectionSize(70);
    table->horizontalHeader()->resizeSection(model->columnCount() - 1, 28);
    return table;
}

QPushButton* SearchReplacePage::addRestoreButton(QVBoxLayout* layout, QLabel* note, const TextPair& question,
                                                 const TextPair& detail, std::function<void()> restore) {
    auto* footer = new QHBoxLayout;
    layout->insertLayout(layout->indexOf(note), footer);
    layout->removeWidget(note);
    footer->addWidget(note, 1);
    QPushButton* button = flatButton(QIcon());
    makeCaption(button);
    footer->addWidget(button, 0, Qt::AlignTop);
    connect(button, &QPushButton::clicked, this, [this, question, detail, restore = std::move(restore)] {
        askFirst(this, text(question.de, question.en), text(detail.de, detail.en),
                 text(QStringLiteral("Standard wiederherstellen"), QStringLiteral("Restore Defaults")),
                 text(QStringLiteral("Abbrechen"), QStringLiteral("Cancel")), restore);
    });
    return button;
}

SearchReplacePage::ButtonRow SearchReplacePage::addButtonRow(QVBoxLayout* layout) {
    auto* row = new QHBoxLayout;
    ButtonRow buttons{flatButton(Look::symbolIcon(QStringLiteral("plus.circle.fill"))),
                      flatButton(Look::symbolIcon(QStringLiteral("square.and.arrow.up"))),
                      flatButton(Look::symbolIcon(QStringLiteral("square.and.arrow.down"))), new QLabel};
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::VLine);
    divider->setFixedHeight(16);
    // The result has a line of its own under the buttons and wraps there: a
    // long failure text neither widens the page nor pushes the buttons away.
    buttons.result->setTextFormat(Qt::PlainText);
    buttons.result->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    buttons.result->setWordWrap(true);
    makeCaption(buttons.result);
    row->addWidget(buttons.add);
    row->addWidget(divider);
    row->addWidget(buttons.exportButton);
    row->addWidget(buttons.importButton);
    row->addStretch(1);
    layout->addLayout(row);
    layout->addWidget(buttons.result);
    return buttons;
}

void SearchReplacePage::refresh() {
    AppSettings& s = settings();
    setChecked(m_writeDecade, s.writeDecadeToGenre());
    m_ruleModel->sync();
    m_mappingModel->sync();

    QStringList lines;
    for (const auto& issue : m_vm.ruleIssues()) {
        lines.append(QStringLiteral("⚠ ") + issue.message);
    }
    setText(m_findings, lines.join(QLatin1Char('\n')));
    m_findings->setVisible(!lines.isEmpty());

    setChecked(m_lookup, s.enableGenreLookup());
    setChecked(m_overwrite, s.genreOverwriteExisting());
    m_overwrite->setVisible(s.enableGenreLookup());
    m_mappingSection->setVisible(s.enableGenreLookup());
    setChecked(m_apply, s.applyGenreMappings());
    setChecked(m_autoAdd, s.autoAddGenreMappings());
    m_autoAdd->setVisible(s.applyGenreMappings());
    m_autoAddNote->setVisible(s.applyGenreMappings());

    QHeaderView* header = m_mappingTable->horizontalHeader();
    if (const auto field = m_vm.genreSortField()) {
        // The header draws Qt's ascending order as a chevron pointing down;
        // this table shows it pointing up (A on top), so the orders swap here.
        header->setSortIndicatorShown(true);
        header->setSortIndicator(*field == SettingsViewModel::GenreSortField::source
                                     ? GenreMappingTableModel::sourceColumn
                                     : GenreMappingTableModel::targetColumn,
                                 m_vm.genreSortAscending() ? Qt::DescendingOrder : Qt::AscendingOrder);
    } else {
        header->setSortIndicatorShown(false);
    }

    for (auto [label, result] : {std::pair{m_ruleResult, m_vm.decadeImportResult()},
                                 std::pair{m_mappingResult, m_vm.importResult()}}) {
        setText(label, result.value_or(QString()));
        label->setVisible(result.has_value());
        colourResult(label);
    }
    retranslate();
}

void SearchReplacePage::retranslate() {
    setText(m_writeDecade, text(QStringLiteral("Jahrzehnt ins Genre-Tag schreiben"),
                                QStringLiteral("Write decade to genre tag")));
    setText(
        m_writeSection.footer,
        text(QStringLiteral("Wenn deaktiviert, wird das Jahrzehnt-Label nicht ans Genre angehängt. Jahr- und "
                            "Genre-Ermittlung laufen trotzdem."),
             QStringLiteral("When disabled, the decade label is not appended to the genre. Year and genre "
                            "lookup still run.")));
    for (QPushButton* add : {m_ruleAdd, m_mappingAdd}) {
        setText(add, text(QStringLiteral("Hinzufügen"), QStringLiteral("Add")));
    }
    for (QPushButton* exportButton : {m_ruleExport, m_mappingExport}) {
        setText(exportButton, text(QStringLiteral("Exportieren"), QStringLiteral("Export")));
    }
    for (QPushButton* importButton : {m_ruleImport, m_mappingImport}) {
        setText(importButton, text(QStringLiteral("Importieren"), QStringLiteral("Import")));
    }
    for (QPushButton* restore : {m_ruleRestore, m_mappingRestore}) {
        setText(restore,
                text(QStringLiteral("Standard wiederherstellen"), QStringLiteral("Restore Defaults")));
    }
    setText(
        m_ruleNote,
        text(QStringLiteral("Legt fest welche Bezeichnung für welchen Zeitraum ins Genre geschrieben wird."),
             QStringLiteral("Defines which label is written to the genre tag for each time period.")));
    setText(m_lookup, text(QStringLiteral("Genre ermitteln"), QStringLiteral("Look up genre")));
    setText(m_overwrite, text(QStringLiteral("Vorhandenes Genre überschreiben"),
                              QStringLiteral("Overwrite existing genre")));
    const AppSettings& s = settings();
    QString footer;
    if (!s.enableGenreLookup()) {
        footer = text(
            QStringLiteral("Genre wird über MusicBrainz, Last.fm oder den KI-Anbieter ermittelt und ins "
                           "Tag geschrieben."),
            QStringLiteral("Genre is determined via MusicBrainz, Last.fm, or the AI provider and written to "
                           "the tag."));
    } else if (s.genreOverwriteExisting()) {
        footer = text(QStringLiteral("Vorhandene Genre-Tags werden durch das ermittelte Genre ersetzt."),
                      QStringLiteral("Existing genre tags will be replaced by the determined genre."));
    } else {
        footer = text(
            QStringLiteral(
                "Ermitteltes Genre wird an das vorhandene angehängt (z.B. \"NDW\" + \"Darkwave\" → \"NDW "
                "Darkwave 80er\"). Bei leerem Tag wird das ermittelte Genre direkt verwendet."),
            QStringLiteral(
                "The determined genre is appended to the existing one (e.g. \"NDW\" + \"Darkwave\" → \"NDW "
                "Darkwave 80s\"). If the tag is empty, the genre is written directly."));
    }
    setText(m_lookupSection.footer, footer);
    setText(m_apply,
            text(QStringLiteral("Genre-Zuordnungen anwenden"), QStringLiteral("Apply genre mappings")));
    setText(m_autoAdd,
            text(QStringLiteral("Neue Genre automatisch hinzufügen"), QStringLiteral("Auto-add new genres")));
    setText(m_autoAddNote,
            text(QStringLiteral(
                     "Entdeckte Genre die noch nicht in der Tabelle stehen werden automatisch eingetragen."),
                 QStringLiteral("Discovered genres not yet in the table are added automatically.")));
    setText(m_mappingNote,
            text(QStringLiteral("Normalisiert erkannte Genre-Bezeichnungen vor dem Schreiben. "
                                "Groß-/Kleinschreibung wird ignoriert."),
                 QStringLiteral("Normalizes detected genre labels before writing. Case is ignored.")));
}
