#include "ui/manual/ManualModeView.h"

#include "model/AppLanguage.h"
#include "model/AppSettings.h"
#include "ui/DoubleClickGuard.h"
#include "ui/ElidedLabel.h"
#include "ui/FlowLayout.h"
#include "ui/Look.h"
#include "ui/auto/ProblemResolutionView.h"
#include "ui/manual/ManualFileTable.h"
#include "ui/manual/ManualModeViewModel.h"
#include "ui/manual/StatusBadgeView.h"
#include "ui/manual/StatusBadgeViewModel.h"
#include "ui/manual/TableSelectionViewModel.h"
#include "ui/manual/YearEditSheet.h"

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

using Look::divider;

QPushButton* button(QWidget* parent, const char* name, const char* symbol) {
    auto* b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setIcon(Look::symbolIcon(QLatin1String(symbol)));
    b->setAutoDefault(false);
    return b;
}

// Text in a named colour ("secondary", "orange", ...); worked out again when
// the palette changes, so a switch between light and dark stays readable.
void tint(QWidget* widget, const char* colour) {
    widget->setProperty("tint", QLatin1String(colour));
    Look::setTextColor(widget, Look::statusColor(QLatin1String(colour), QApplication::palette()));
}

QLabel* plainLabel(QWidget* parent, const char* name = nullptr) {
    QLabel* label = Look::plainLabel(parent);
    if (name) {
        label->setObjectName(QLatin1String(name));
    }
    return label;
}

QList<QString> localPaths(const QMimeData* mime) {
    QList<QString> paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            paths.append(url.toLocalFile());
        }
    }
    return paths;
}

// Directory paths keep their end visible.
class HeadElidingDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideLeft;
    }
};

// The tint and outline shown while files are dragged over the content area.
class DropOverlay : public QWidget {
public:
    explicit DropOverlay(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("dropOverlay"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor accent = palette().color(QPalette::Highlight);
        QColor fill = accent;
        fill.setAlphaF(0.06);
        const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
        QPainterPath path;
        path.addRoundedRect(r, 8, 8);
        painter.fillPath(path, fill);
        painter.setPen(QPen(accent, 2));
        painter.drawPath(path);
    }
};

} // namespace

// The middle of the screen: table or empty state; takes drops of local files.
class ContentArea : public QWidget {
public:
    ContentArea(ManualModeViewModel* model, QWidget* parent) : QWidget(parent), m_model(model) {
        setObjectName(QStringLiteral("contentArea"));
        setAcceptDrops(true);
        m_overlay = new DropOverlay(this);
    }
    QWidget* overlay() const { return m_overlay; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        m_overlay->setGeometry(rect());
    }
    void dragEnterEvent(QDragEnterEvent* event) override { offer(event); }
    void dragMoveEvent(QDragMoveEvent* event) override { offer(event); }
    void dragLeaveEvent(QDragLeaveEvent*) override { m_overlay->hide(); }
    void dropEvent(QDropEvent* event) override {
        m_overlay->hide();
        const QList<QString> paths = localPaths(event->mimeData());
        if (paths.isEmpty()) {
            event->ignore();
            return;
        }
        // Copy, never the proposed move: a file manager would delete the sources.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        m_model->addFiles(paths);
    }

private:
    void offer(QDropEvent* event) {
        if (localPaths(event->mimeData()).isEmpty()) {
            event->ignore();
            return;
        }
        event->setDropAction(Qt::CopyAction);
        event->accept();
        m_overlay->raise();
        m_overlay->show();
    }

    ManualModeViewModel* m_model;
    DropOverlay* m_overlay;
};

ManualModeView::ManualModeView(QWidget* parent) : QWidget(parent) {
    m_ownedModel = std::make_unique<ManualModeViewModel>();
    m_model = m_ownedModel.get();
    build();
}

ManualModeView::ManualModeView(ManualModeViewModel* model, QWidget* parent)
    : QWidget(parent), m_model(model) {
    build();
}

ManualModeView::~ManualModeView() {
    disconnect(m_model, nullptr, this, nullptr);
    // Sheets and the table model go before the view model they read.
    delete m_problemSheet;
    delete m_yearSheet;
    delete m_alert;
    delete m_table;
    delete m_tableModel;
}

QWidget* ManualModeView::contentArea() const {
    return m_content;
}

void ManualModeView::build() {
    YearEditSheet::registerAsProblemSheetEditor();
    m_selection = new TableSelectionViewModel(m_model, this);
    m_popoverDelay = new QTimer(this);
    m_popoverDelay->setSingleShot(true);
    connect(m_popoverDelay, &QTimer::timeout, this, [this] {
        for (int row = 0; row < m_tableModel->rowCount(); ++row) {
            if (m_tableModel->fileAt(row).id == m_pendingPopover) {
                statusClicked(m_tableModel->index(row, ManualFileTableModel::status));
            }
        }
        m_pendingPopover = QUuid();
    });

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(buildToolbar());
    root->addWidget(divider(this, Qt::Horizontal));
    root->addWidget(buildFilterBar());
    root->addWidget(divider(this, Qt::Horizontal));

    m_content = new ContentArea(m_model, this);
    auto* contentLayout = new QVBoxLayout(m_content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    m_stack = new QStackedWidget(m_content);
    contentLayout->addWidget(m_stack);

    m_table = new QTableView(m_stack);
    m_table->setObjectName(QStringLiteral("fileTable"));
    m_tableModel = new ManualFileTableModel(m_model, m_selection, this);
    m_table->setModel(m_tableModel);
    m_table->setSelectionMode(QAbstractItemView::NoSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->verticalHeader()->hide();
    m_table->setWordWrap(false);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->setMouseTracking(true);
    m_table->setItemDelegateForColumn(ManualFileTableModel::status, new StatusBadgeView(m_table));
    m_table->setItemDelegateForColumn(ManualFileTableModel::directory, new HeadElidingDelegate(m_table));
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    // The narrow columns keep their width; the text columns share the rest, so
    // that every column is on screen also in the smallest window.
    const int widths[] = {24, 180, 140, 130, 50, 60, 120, 50, 140, 160};
    for (int column = 0; column < ManualFileTableModel::columnCount_; ++column) {
        m_table->setColumnWidth(column, widths[column]);
        header->setSectionResizeMode(column, QHeaderView::Stretch);
    }
    for (int column : {ManualFileTableModel::check, ManualFileTableModel::year, ManualFileTableModel::decade,
                       ManualFileTableModel::format, ManualFileTableModel::status}) {
        header->setSectionResizeMode(column, QHeaderView::Fixed);
    }
    syncSortIndicator();
    connect(header, &QHeaderView::sortIndicatorChanged, this, [this](int column, Qt::SortOrder order) {
        if (m_syncingSort) {
            return;
        }
        if (const auto sortColumn = ManualFileTableModel::sortColumnFor(column)) {
            m_model->applySort({{*sortColumn, order == Qt::AscendingOrder}});
        }
        syncSortIndicator();
    });
    connect(m_table, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (index.column() != ManualFileTableModel::status) {
            return;
        }
        const MusicFile& file = m_tableModel->fileAt(index.row());
        if (file.status.kind() == ProcessingStatus::Kind::yearNotFound) {
            // Wait: a second click opens the year sheet instead.
            m_pendingPopover = file.id;
            m_popoverDelay->start(QApplication::doubleClickInterval());
        } else {
            statusClicked(index);
        }
    });
    connect(m_table, &QTableView::doubleClicked, this, &ManualModeView::statusDoubleClicked);
    connect(m_table, &QTableView::customContextMenuRequested, this, &ManualModeView::showRowMenu);
    m_stack->addWidget(m_table);

    for (int page = 0; page < 2; ++page) {
        auto* placeholder = new QWidget(m_stack);
        auto* layout = new QVBoxLayout(placeholder);
        layout->setSpacing(16);
        layout->addStretch();
        auto* icon =
            Look::symbolLabel(placeholder, QLatin1String(page == 0 ? "arrow.down.doc" : "music.note.list"),
                              48, {}, QIcon::Disabled);
        icon->setAlignment(Qt::AlignCenter);
        auto* title = plainLabel(placeholder);
        title->setAlignment(Qt::AlignCenter);
        title->setFont(Look::title2(font()));
        auto* hint = plainLabel(placeholder);
        hint->setAlignment(Qt::AlignCenter);
        tint(hint, "secondary");
        layout->addWidget(icon);
        layout->addWidget(title);
        layout->addWidget(hint);
        if (page == 0) {
            m_chooseDirectory = button(placeholder, "chooseDirectoryButton", "folder");
            m_chooseDirectory->setIcon(QIcon());
            connect(m_chooseDirectory, &QPushButton::clicked, this, &ManualModeView::chooseDirectory);
            layout->addWidget(m_chooseDirectory, 0, Qt::AlignCenter);
            m_noFilesTitle = title;
            m_noFilesHint = hint;
        } else {
            m_noAudioTitle = title;
            m_noAudioHint = hint;
        }
        layout->addStretch();
        m_stack->addWidget(placeholder);
    }
    root->addWidget(m_content, 1);
    root->addWidget(divider(this, Qt::Horizontal));
    root->addWidget(buildFooter());

    connect(m_model, &ManualModeViewModel::stateChanged, this, &ManualModeView::refresh);
    connect(m_model, &ManualModeViewModel::filesChanged, this, &ManualModeView::refresh);
    connect(m_model, &ManualModeViewModel::progressChanged, this, &ManualModeView::refreshProgress);
    // Row changes arrive one per file; the counters follow them a little later, in batches.
    m_rowRefresh = new QTimer(this);
    m_rowRefresh->setSingleShot(true);
    m_rowRefresh->setInterval(50);
    connect(m_rowRefresh, &QTimer::timeout, this, &ManualModeView::refresh);
    connect(m_model, &ManualModeViewModel::fileChanged, m_rowRefresh, [this] {
        if (!m_rowRefresh->isActive()) {
            m_rowRefresh->start();
        }
    });
    connect(m_selection, &TableSelectionViewModel::changed, this, &ManualModeView::refresh);
    connect(&AppSettings::shared(), &AppSettings::languageChanged, this, &ManualModeView::retranslate);
    // The decade column follows the rules.
    connect(&AppSettings::shared(), &AppSettings::settingsChanged, m_tableModel,
            &ManualFileTableModel::retranslate);
    retranslate();
}

QWidget* ManualModeView::buildToolbar() {
    // Wraps into a second row where the window is too narrow for all buttons.
    auto* row = new QWidget(this);
    row->setObjectName(QStringLiteral("toolbar"));
    auto* layout = new FlowLayout(row, 12);
    layout->setContentsMargins(12, 8, 12, 8);
    m_directory = button(row, "directoryButton", "folder");
    m_folderName = plainLabel(row, "folderName");
    m_folderName->setMaximumWidth(200);
    tint(m_folderName, "secondary");
    auto* line = divider(row, Qt::Vertical, 20);
    line->setObjectName(QStringLiteral("toolbarDivider"));
    m_scan = button(row, "scanButton", "arrow.clockwise");
    m_clear = button(row, "clearButton", "trash");
    m_lookup = button(row, "lookupButton", "magnifyingglass");
    m_update = button(row, "updateButton", "square.and.pencil");
    m_problems = button(row, "problemsButton", "exclamationmark.circle");
    m_undo = button(row, "undoButton", "arrow.uturn.backward");
    m_cancel = button(row, "cancelButton", "xmark.circle");
    tint(m_problems, "orange");
    tint(m_undo, "orange");
    tint(m_cancel, "red");
    for (QWidget* w : std::initializer_list<QWidget*>{m_directory, m_folderName, line, m_scan, m_clear,
                                                      m_lookup, m_update, m_problems, m_undo, m_cancel}) {
        layout->addWidget(w);
    }
    // The table stays where it is when a run starts or ends: the toolbar
    // keeps the rows of Problems and Undo (shown while idle) and of Cancel
    // (shown while busy), whichever take more.
    layout->takeTurns({m_problems, m_undo});
    layout->takeTurns({m_cancel});
    // The second click of a double-click on one lands on the one that takes its place.
    for (QWidget* w : std::initializer_list<QWidget*>{m_problems, m_undo, m_cancel}) {
        DoubleClickGuard::install(w);
    }

    connect(m_directory, &QPushButton::clicked, this, &ManualModeView::chooseDirectory);
    connect(m_scan, &QPushButton::clicked, m_model, &ManualModeViewModel::startScan);
    connect(m_clear, &QPushButton::clicked, m_model, &ManualModeViewModel::clearAll);
    connect(m_lookup, &QPushButton::clicked, this,
            [this] { m_model->lookupSelected(m_selection->selection()); });
    connect(m_update, &QPushButton::clicked, this,
            [this] { m_model->updateSelected(m_selection->selection()); });
    connect(m_problems, &QPushButton::clicked, this, &ManualModeView::openProblemSheet);
    connect(m_undo, &QPushButton::clicked, m_model, &ManualModeViewModel::undoLastWrite);
    connect(m_cancel, &QPushButton::clicked, m_model, &ManualModeViewModel::cancelAll);
    return row;
}

QWidget* ManualModeView::buildFilterBar() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(12, 6, 12, 6);
    layout->setSpacing(12);
    m_all = new QCheckBox(row);
    m_all->setObjectName(QStringLiteral("allCheckBox"));
    connect(m_all, &QCheckBox::clicked, this, [this](bool on) { m_selection->setAllFilteredSelected(on); });
    auto* filterIcon =
        Look::symbolLabel(row, QStringLiteral("line.3.horizontal.decrease.circle"), 16, {}, QIcon::Disabled);
    m_search = new QLineEdit(row);
    m_search->setObjectName(QStringLiteral("searchField"));
    m_search->setMaximumWidth(300);
    connect(m_search, &QLineEdit::textChanged, m_model, &ManualModeViewModel::setFilterText);
    m_problemsOnly = new QCheckBox(row);
    m_problemsOnly->setObjectName(QStringLiteral("problemsOnlyCheckBox"));
    connect(m_problemsOnly, &QCheckBox::toggled, m_model, &ManualModeViewModel::setShowOnlyProblematic);

    m_progress = new QWidget(row);
    auto* progressLayout = new QHBoxLayout(m_progress);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    progressLayout->setSpacing(8);
    m_progressBar = new QProgressBar(m_progress);
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setFixedWidth(120);
    m_progressBar->setTextVisible(false);
    m_progressLabel = plainLabel(m_progress, "progressLabel");
    m_progressLabel->setFont(Look::caption(font()));
    tint(m_progressLabel, "secondary");
    progressLayout->addWidget(m_progressBar);
    progressLayout->addWidget(m_progressLabel);

    layout->addWidget(m_all);
    layout->addWidget(divider(row, Qt::Vertical, 16));
    layout->addWidget(filterIcon);
    layout->addWidget(m_search, 1);
    layout->addWidget(m_problemsOnly);
    layout->addStretch(1);
    layout->addWidget(m_progress);
    return row;
}

QWidget* ManualModeView::buildFooter() {
    auto* row = new QWidget(this);
    row->setFont(Look::caption(font()));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(12, 6, 12, 6);
    layout->setSpacing(16);
    const char* colors[] = {"secondary", "green", "orange", "teal", "blue", "secondary", "red"};
    for (int i = 0; i < 7; ++i) {
        auto* box = new QWidget(row);
        box->setObjectName(QStringLiteral("counter%1").arg(i));
        auto* boxLayout = new QHBoxLayout(box);
        boxLayout->setContentsMargins(0, 0, 0, 0);
        boxLayout->setSpacing(4);
        auto* label = plainLabel(box);
        tint(label, "secondary");
        auto* count = plainLabel(box);
        count->setObjectName(QStringLiteral("count"));
        QFont medium = count->font();
        medium.setWeight(QFont::Medium);
        count->setFont(medium);
        tint(count, colors[i]);
        boxLayout->addWidget(label);
        boxLayout->addWidget(count);
        layout->addWidget(box);
        if (i == 0) {
            layout->addWidget(divider(row, Qt::Vertical, 14));
        }
        m_counters.append({box, label, count});
    }
    // The files a scan or drop could not read: how many and which, cut to the
    // room the counters leave; every path is in its tooltip.
    m_unreadableNote = new ElidedLabel(QWIDGETSIZE_MAX, row, Qt::ElideRight);
    m_unreadableNote->setObjectName(QStringLiteral("unreadableNote"));
    tint(m_unreadableNote, "red");
    layout->addWidget(m_unreadableNote);
    layout->addStretch(1);
    m_selectionText = plainLabel(row, "selectionText");
    tint(m_selectionText, "secondary");
    layout->addWidget(m_selectionText);
    return row;
}

void ManualModeView::retranslate() {
    auto L = [](const char* de, const char* en) {
        return localizedText(QString::fromUtf8(de), QString::fromUtf8(en));
    };
    m_directory->setText(L("Verzeichnis", "Directory"));
    m_scan->setText(L("Scannen", "Scan"));
    m_clear->setText(L("Liste leeren", "Clear List"));
    m_lookup->setText(L("Ermittlung starten", "Start Lookup"));
    m_update->setText(L("Ausgewählte aktualisieren", "Update Selected"));
    m_update->setToolTip(
        Look::plainToolTip(L("Genre-Tags der ausgewählten Dateien mit dem Jahrzehnt ergänzen",
                             "Append the decade label to the genre tag of selected files")));
    m_undo->setText(L("Rückgängig", "Undo"));
    m_undo->setToolTip(Look::plainToolTip(
        L("Letzten Schreibvorgang rückgängig machen – Genre-Tags werden auf den Stand vor dem Aktualisieren "
          "zurückgesetzt. Nur bis zum nächsten App-Start verfügbar.",
          "Undo the last write – genre tags are restored to their state before the update. Only available "
          "until "
          "the next app launch.")));
    m_cancel->setText(L("Abbrechen", "Cancel"));
    m_all->setText(L("Alle", "All"));
    m_search->setPlaceholderText(L("Suchen…", "Search…"));
    m_problemsOnly->setText(L("Nur Probleme", "Problems only"));
    m_noFilesTitle->setText(L("Keine Dateien geladen", "No files loaded"));
    m_noFilesHint->setText(
        L("Verzeichnis über den Button oben wählen\noder Dateien und Ordner hierher ziehen.",
          "Select a directory using the button above\nor drag files and folders here."));
    m_chooseDirectory->setText(L("Verzeichnis wählen", "Choose Directory"));
    m_noAudioTitle->setText(L("Keine Audiodateien gefunden", "No audio files found"));
    m_noAudioHint->setText(L("Im gewählten Verzeichnis wurden keine unterstützten Audiodateien gefunden.",
                             "No supported audio files were found in the selected directory."));
    const QString labels[] = {L("Gesamt", "Total"),
                              L("Jahre gefunden", "Years found"),
                              L("Nicht gefunden", "Not found"),
                              L("Genre erkannt", "Genre found"),
                              L("Aktualisiert", "Updated"),
                              L("Übersprungen", "Skipped"),
                              L("Fehler", "Errors")};
    for (int i = 0; i < m_counters.size(); ++i) {
        m_counters[i].label->setText(labels[i] + QLatin1Char(':'));
    }
    m_tableModel->retranslate();
    // The narrow fixed columns widen to their title ("Jahrzehnt") and the sort mark.
    QHeaderView* header = m_table->horizontalHeader();
    for (const auto& [column, width] : {std::pair{int(ManualFileTableModel::year), 50},
                                        std::pair{int(ManualFileTableModel::decade), 60},
                                        std::pair{int(ManualFileTableModel::format), 50}}) {
        m_table->setColumnWidth(column, std::max(width, header->sectionSizeHint(column)));
    }
    refresh();
}

void ManualModeView::refresh() {
    const ManualModeViewModel& vm = *m_model;
    const bool busy = vm.isBusy();
    const bool hasFiles = !vm.files().isEmpty();
    const StatusCounts c = vm.statusCounts();
    const int problems = c.notFound + c.errors; // the rows problematicFiles() gives

    m_directory->setEnabled(!busy);
    if (const auto& folder = vm.selectedDirectory()) {
        const QString name = QFileInfo(*folder).fileName();
        const QString shown = name.isEmpty() ? *folder : name; // "/" stays "/"
        m_folderName->setText(m_folderName->fontMetrics().elidedText(shown, Qt::ElideMiddle, 200));
        m_folderName->setVisible(true);
    } else {
        m_folderName->setVisible(false);
    }
    m_scan->setEnabled(vm.selectedDirectory().has_value() && !busy);
    m_clear->setEnabled(hasFiles && !busy);
    m_lookup->setEnabled(hasFiles && !busy);
    m_update->setEnabled(!m_selection->selection().isEmpty() && vm.canStartWrite());
    m_problems->setVisible(problems > 0 && !busy);
    m_problems->setText(QString::number(problems) +
                        localizedText(QStringLiteral(" Problem(e)"), QStringLiteral(" Problem(s)")));
    m_undo->setVisible(vm.canUndo() && !busy);
    m_undo->setEnabled(vm.canStartWrite());
    m_cancel->setVisible(busy);

    m_all->setEnabled(!vm.filteredFiles().isEmpty());
    m_all->setChecked(m_selection->allFilteredSelected());
    if (m_problemsOnly->isChecked() != vm.showOnlyProblematic()) {
        m_problemsOnly->setChecked(vm.showOnlyProblematic());
    }
    m_progress->setVisible(busy);
    refreshProgress();

    m_stack->setCurrentIndex(hasFiles || vm.isScanning() ? 0 : vm.selectedDirectory() ? 2 : 1);

    const int counts[] = {c.total, c.yearFound, c.notFound, c.genreFound, c.updated, c.skipped, c.errors};
    for (int i = 0; i < m_counters.size(); ++i) {
        m_counters[i].count->setText(QString::number(counts[i]));
    }
    m_counters[3].box->setVisible(c.genreFound > 0);
    m_counters[6].box->setVisible(c.errors > 0);
    const QStringList& unreadable = vm.unreadableFiles();
    m_unreadableNote->setVisible(!unreadable.isEmpty());
    if (!unreadable.isEmpty()) {
        QStringList names;
        for (const QString& path : unreadable) {
            names.append(QFileInfo(path).fileName() + vm.unreadableSuffix(path));
        }
        const QString count = QString::number(unreadable.size());
        const QString note = localizedText(count + QStringLiteral(" Datei(en) nicht lesbar: "),
                                           count + QStringLiteral(" file(s) could not be read: ")) +
                             names.join(QStringLiteral(", "));
        m_unreadableNote->setFullText(note);
        QStringList lines;
        for (const QString& path : unreadable) {
            lines.append(path + vm.unreadableSuffix(path));
        }
        m_unreadableNote->setToolTip(Look::plainToolTip(lines.join(QLatin1Char('\n'))));
    }
    const qsizetype checked = m_selection->selection().size();
    m_selectionText->setVisible(checked > 0);
    m_selectionText->setText(QString::number(checked) +
                             localizedText(QStringLiteral(" ausgewählt"), QStringLiteral(" selected")));
    showErrorIfNew();
}

void ManualModeView::refreshProgress() {
    const ManualModeViewModel& vm = *m_model;
    const Progress progress = vm.isScanning()    ? vm.scanProgress()
                              : vm.isLookingUp() ? vm.lookupProgress()
                                                 : vm.updateProgress();
    const QString prefix =
        vm.isScanning()    ? localizedText(QStringLiteral("Scanne "), QStringLiteral("Scanning "))
        : vm.isLookingUp() ? localizedText(QStringLiteral("Ermittle "), QStringLiteral("Looking up "))
                           : localizedText(QStringLiteral("Aktualisiere "), QStringLiteral("Updating "));
    m_progressBar->setRange(0, std::max(progress.total, 1));
    m_progressBar->setValue(progress.current);
    m_progressLabel->setText(prefix + QString::number(progress.current) + QLatin1Char('/') +
                             QString::number(progress.total));
}

void ManualModeView::showErrorIfNew() {
    const std::optional<QString>& message = m_model->errorMessage();
    if (message == m_shownError) {
        return;
    }
    m_shownError = message;
    if (!message) {
        if (m_alert) {
            m_alert->close();
        }
        return;
    }
    if (!m_alert) {
        m_alert = new QMessageBox(this);
        m_alert->setObjectName(QStringLiteral("errorAlert"));
        m_alert->setAttribute(Qt::WA_DeleteOnClose);
        m_alert->setWindowModality(Qt::WindowModal);
        m_alert->setWindowTitle(QStringLiteral("Fehler"));
        m_alert->setTextFormat(Qt::PlainText);
        m_alert->setStandardButtons(QMessageBox::Ok);
        m_alert->button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
        connect(m_alert, &QMessageBox::finished, this, [this] {
            m_alert = nullptr; // it deletes itself; a later message opens a new one
            if (m_model->errorMessage()) {
                m_model->clearErrorMessage();
            }
        });
        m_alert->setText(*message);
        m_alert->open();
    } else {
        m_alert->setText(*message);
    }
}

void ManualModeView::chooseDirectory() {
    if (m_model->isBusy()) {
        return;
    }
    auto* dialog = new QFileDialog(
        this, localizedText(QStringLiteral("Verzeichnis auswählen"), QStringLiteral("Choose Directory")));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setLabelText(QFileDialog::Accept, localizedText(QStringLiteral("Wählen"), QStringLiteral("Choose")));
    dialog->setWindowModality(Qt::WindowModal);
    QPointer<ManualModeView> self(this);
    connect(dialog, &QFileDialog::fileSelected, dialog, [self](const QString& folder) {
        if (self && !folder.isEmpty()) {
            self->m_model->chooseDirectory(folder);
        }
    });
    dialog->open();
}

void ManualModeView::openProblemSheet() {
    if (m_problemSheet) {
        return;
    }
    ProblemResolutionViewModel::Binding binding{[this] { return m_model->problematicFiles(); },
                                                [this](const QList<MusicFile>& files) {
                                                    m_model->replaceFilesById(files);
                                                }};
    m_problemSheet = new ProblemResolutionView(
        binding,
        [this](const QList<MusicFile>&) {
            // The list it hands back is not used: its years reach the rows as they are saved.
            if (m_problemSheet) {
                m_problemSheet->accept();
                m_problemSheet->deleteLater();
            }
        },
        this);
    m_problemSheet->setWindowModality(Qt::WindowModal);
    m_problemSheet->open();
}

bool ManualModeView::yearEditingAllowed() const {
    return !m_model->isUpdating() && !m_model->isWriteInFlight();
}

void ManualModeView::openYearSheet(const MusicFile& file) {
    if (m_yearSheet || !yearEditingAllowed()) {
        return;
    }
    m_yearSheet = new YearEditSheet(
        file, [this, file](std::optional<int> year) { m_model->setManualYear(year, file); }, this);
    m_yearSheet->setAttribute(Qt::WA_DeleteOnClose);
    m_yearSheet->open();
}

void ManualModeView::statusClicked(const QModelIndex& index) {
    const MusicFile& file = m_tableModel->fileAt(index.row());
    if (!clickOpensPopover(file.status)) {
        return;
    }
    const QRect cell = m_table->visualRect(index);
    const QRect anchor(m_table->viewport()->mapToGlobal(cell.topLeft()), cell.size());
    StatusBadgeView::showPopover(this, file.status, file.discoveredGenre, anchor);
}

void ManualModeView::statusDoubleClicked(const QModelIndex& index) {
    if (index.column() != ManualFileTableModel::status) {
        return;
    }
    m_popoverDelay->stop();
    m_pendingPopover = QUuid();
    const MusicFile& file = m_tableModel->fileAt(index.row());
    if (file.status.kind() == ProcessingStatus::Kind::yearNotFound) {
        openYearSheet(file);
    }
}

void ManualModeView::showRowMenu(const QPoint& position) {
    const QModelIndex index = m_table->indexAt(position);
    static const QList<int> withMenu = {ManualFileTableModel::title, ManualFileTableModel::artist,
                                        ManualFileTableModel::genre, ManualFileTableModel::status};
    if (!index.isValid() || !withMenu.contains(index.column())) {
        return;
    }
    const MusicFile file = m_tableModel->fileAt(index.row());
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("rowMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* edit = menu->addAction(
        localizedText(QStringLiteral("Jahr manuell eingeben…"), QStringLiteral("Enter year manually…")), this,
        [this, file] { openYearSheet(file); });
    edit->setEnabled(yearEditingAllowed());
    menu->addSeparator();
    const bool checked = m_selection->isSelected(file.id);
    menu->addAction(checked ? localizedText(QStringLiteral("Abwählen"), QStringLiteral("Deselect"))
                            : localizedText(QStringLiteral("Auswählen"), QStringLiteral("Select")),
                    this, [this, id = file.id, checked] { m_selection->setSelected(id, !checked); });
    menu->popup(m_table->viewport()->mapToGlobal(position));
}

void ManualModeView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::PaletteChange) {
        for (QWidget* widget : findChildren<QWidget*>()) {
            const QString colour = widget->property("tint").toString();
            if (!colour.isEmpty()) {
                Look::setTextColor(widget, Look::statusColor(colour, QApplication::palette()));
            }
        }
    }
}

void ManualModeView::syncSortIndicator() {
    m_syncingSort = true;
    const int column = ManualFileTableModel::columnFor(m_model->sortColumn());
    m_table->horizontalHeader()->setSortIndicator(column, m_model->sortAscending() ? Qt::AscendingOrder
                                                                                   : Qt::DescendingOrder);
    m_syncingSort = false;
}
