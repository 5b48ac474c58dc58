#include "ui/auto/ProblemResolutionView.h"

#include "model/AppSettings.h"
#include "ui/Look.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTextDocument>
#include <QVBoxLayout>

#include <utility>

namespace {

enum Column { FileColumn, AlbumColumn, GenreColumn, FormatColumn, YearColumn, ActionColumn, ColumnCount };

// Readable on the light and the dark palette in force.
QColor orange() {
    return Look::statusColor(QStringLiteral("orange"), QApplication::palette());
}
QColor green() {
    return Look::statusColor(QStringLiteral("green"), QApplication::palette());
}
const QColor blue(30, 110, 230);

ProblemResolutionView::YearEditorOpener& defaultOpener() {
    static ProblemResolutionView::YearEditorOpener opener;
    return opener;
}

QString fileLabel(const MusicFile& file) {
    return file.title.isEmpty() ? QFileInfo(file.url).fileName() : file.title;
}

} // namespace

// The rows of the sheet: a copy of the presenter's list, renewed on every change.
class ProblemFilesModel : public QAbstractTableModel {
public:
    explicit ProblemFilesModel(QObject* parent) : QAbstractTableModel(parent) {}

    void setFiles(QList<MusicFile> files) {
        beginResetModel();
        m_files = std::move(files);
        endResetModel();
    }
    const MusicFile* fileAt(int row) const {
        return row >= 0 && row < m_files.size() ? &m_files[row] : nullptr;
    }
    void retranslate() { Q_EMIT headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1); }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_files.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : ColumnCount;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
            return {};
        }
        switch (section) {
        case FileColumn:
            return localizedText("Datei", "File");
        case AlbumColumn:
            return QStringLiteral("Album");
        case GenreColumn:
            return QStringLiteral("Genre");
        case FormatColumn:
            return QStringLiteral("Format");
        case YearColumn:
            return localizedText("Jahr / Jahrzehnt", "Year / Decade");
        case ActionColumn:
            return localizedText("Aktion", "Action");
        default:
            return {};
        }
    }

    QVariant data(const QModelIndex& index, int role) const override {
        const MusicFile* file = fileAt(index.row());
        if (!file) {
            return {};
        }
        if (role == Qt::ToolTipRole) {
            // Tag texts are shown as they are, never as markup.
            return Qt::convertFromPlainText(data(index, Qt::DisplayRole).toString());
        }
        if (role == Qt::DisplayRole) {
            switch (index.column()) {
            case FileColumn:
                return fileLabel(*file);
            case AlbumColumn:
                return file->album;
            case GenreColumn:
                return Look::shownGenre(file->genre);
            case FormatColumn:
                return rawValue(file->format).toUpper();
            case YearColumn:
                return yearText(*file);
            case ActionColumn:
                return localizedText("Jahr eingeben…", "Enter year…");
            default:
                return {};
            }
        }
        if (role == Qt::ForegroundRole) {
            if (index.column() == FormatColumn && !isWritableFormat(file->format)) {
                return orange();
            }
            if (index.column() == YearColumn && !file->effectiveYear()) {
                return orange();
            }
            if (index.column() == ActionColumn) {
                return blue;
            }
            if (index.column() == AlbumColumn) {
                return QApplication::palette().color(QPalette::PlaceholderText);
            }
        }
        return {};
    }

    static QString yearText(const MusicFile& file) {
        const std::optional<int> year = file.effectiveYear();
        if (!year) {
            return localizedText("Nicht gefunden", "Not found");
        }
        QString text = QString::number(*year);
        if (const auto label = file.decadeLabel(AppSettings::snapshot()->decadeRules)) {
            text += QStringLiteral("  → ") + *label;
        }
        return text;
    }

private:
    QList<MusicFile> m_files;
};

namespace {

// Draws the File column on two lines (title, artist), the decade label of the
// Year column in blue, and the Action column as a link-like button.
class ProblemRowDelegate : public QStyledItemDelegate {
public:
    ProblemRowDelegate(ProblemFilesModel* model, std::function<void(int row)> onAction, QObject* parent)
        : QStyledItemDelegate(parent), m_model(model), m_onAction(std::move(onAction)) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const MusicFile* file = m_model->fileAt(index.row());
        if (!file || (index.column() != FileColumn && index.column() != YearColumn)) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem base(option);
        initStyleOption(&base, index);
        base.text.clear();
        QStyle* style = option.widget ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &base, painter, option.widget);

        const QRect area = option.rect.adjusted(4, 2, -4, -2);
        const QPalette::ColorRole textRole =
            option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text;
        painter->save();
        if (index.column() == FileColumn) {
            QFont titleFont = option.font;
            titleFont.setWeight(QFont::Medium);
            const QFont captionFont = Look::caption(option.font);
            const QRect top(area.left(), area.top(), area.width(), area.height() / 2);
            const QRect bottom(area.left(), area.top() + area.height() / 2, area.width(), area.height() / 2);
            painter->setFont(titleFont);
            painter->setPen(option.palette.color(textRole));
            painter->drawText(
                top, Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetrics(titleFont).elidedText(fileLabel(*file), Qt::ElideRight, top.width()));
            painter->setFont(captionFont);
            painter->setPen(option.palette.color(QPalette::PlaceholderText));
            painter->drawText(
                bottom, Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetrics(captionFont).elidedText(file->artist, Qt::ElideRight, bottom.width()));
        } else if (!file->effectiveYear()) {
            painter->setPen(orange());
            painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                              localizedText("Nicht gefunden", "Not found"));
        } else {
            const QString year = QString::number(*file->effectiveYear());
            painter->setPen(option.palette.color(textRole));
            painter->drawText(area, Qt::AlignLeft | Qt::AlignVCenter, year);
            if (const auto label = file->decadeLabel(AppSettings::snapshot()->decadeRules)) {
                QFont labelFont = option.font;
                labelFont.setWeight(QFont::Medium);
                const int shift = option.fontMetrics.horizontalAdvance(year) + 8;
                painter->setFont(labelFont);
                painter->setPen(blue);
                painter->drawText(area.adjusted(shift, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                                  QStringLiteral("→ ") + *label);
            }
        }
        painter->restore();
    }

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override {
        if (index.column() == ActionColumn && event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            m_onAction(index.row());
            return true;
        }
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    }

private:
    ProblemFilesModel* m_model;
    std::function<void(int row)> m_onAction;
};

QPushButton* plainButton(QWidget* parent) {
    auto* button = new QPushButton(parent);
    // No button may take Return: it would end the sheet by accident.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace

ProblemResolutionView::YearEditorOpener
ProblemResolutionView::setDefaultYearEditorOpener(YearEditorOpener opener) {
    return std::exchange(defaultOpener(), std::move(opener));
}

ProblemResolutionView::ProblemResolutionView(ProblemResolutionViewModel::Binding files,
                                             ProblemResolutionViewModel::DoneHandler onDone, QWidget* parent,
                                             YearEditorOpener opener)
    : QDialog(parent), m_viewModel(new ProblemResolutionViewModel(std::move(files), std::move(onDone), this)),
      m_opener(opener ? std::move(opener) : defaultOpener()) {
    setWindowModality(Qt::WindowModal);
    setMinimumSize(700, 450);
    buildUi();
    connect(m_viewModel, &ProblemResolutionViewModel::filesChanged, this,
            &ProblemResolutionView::refreshCounts);
    connect(m_viewModel, &ProblemResolutionViewModel::yearEditRequested, this,
            &ProblemResolutionView::openYearEditor);
    connect(&AppSettings::shared(), &AppSettings::languageChanged, this, &ProblemResolutionView::retranslate);
    retranslate();
    refreshCounts();
}

void ProblemResolutionView::buildUi() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(16, 12, 16, 12);
    header->setSpacing(12);
    m_icon = Look::symbolLabel(this, QStringLiteral("exclamationmark.triangle.fill"), 28,
                               Look::statusColor(QStringLiteral("orange"), palette()));
    header->addWidget(m_icon);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    m_title = new QLabel(this);
    m_title->setFont(Look::headline(m_title->font()));
    m_subtitle = new QLabel(this);
    const QFont caption = Look::caption(m_subtitle->font());
    m_subtitle->setFont(caption);
    m_subtitle->setForegroundRole(QPalette::PlaceholderText);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    header->addLayout(titles);
    header->addStretch(1);
    auto* counters = new QHBoxLayout;
    counters->setSpacing(16);
    m_resolved = new QLabel(this);
    m_pending = new QLabel(this);
    for (QLabel* label : {m_resolved, m_pending}) {
        label->setFont(caption);
        counters->addWidget(label);
    }
    Look::setTextColor(m_resolved, green());
    Look::setTextColor(m_pending, orange());
    header->addLayout(counters);
    root->addLayout(header);
    root->addWidget(Look::divider(this, Qt::Horizontal));

    m_model = new ProblemFilesModel(this);
    m_table = new QTableView(this);
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->setSortingEnabled(false);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() * 2 + 8);
    m_table->setItemDelegate(new ProblemRowDelegate(
        m_model,
        [this](int row) {
            if (const MusicFile* file = m_model->fileAt(row)) {
                m_viewModel->editYear(*file);
            }
        },
        m_table));
    QHeaderView* columns = m_table->horizontalHeader();
    columns->setMinimumSectionSize(60);
    const int widths[ColumnCount] = {200, 140, 120, 60, 130, 110};
    for (int column = 0; column < ColumnCount; ++column) {
        m_table->setColumnWidth(column, widths[column]);
    }
    columns->setSectionResizeMode(FormatColumn, QHeaderView::Fixed);
    columns->setSectionResizeMode(ActionColumn, QHeaderView::Fixed);
    columns->setSectionResizeMode(FileColumn, QHeaderView::Stretch);
    connect(m_table, &QTableView::customContextMenuRequested, this, &ProblemResolutionView::showContextMenu);
    root->addWidget(m_table, 1);
    root->addWidget(Look::divider(this, Qt::Horizontal));

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(16, 12, 16, 12);
    footer->setSpacing(12);
    // In the normal button colour: a grey text reads as a disabled button.
    m_skipAll = plainButton(this);
    m_cancel = plainButton(this);
    m_updateSelected = plainButton(this);
    m_updateSelected->setFont(Look::headline(m_updateSelected->font()));
    footer->addWidget(m_skipAll);
    footer->addStretch(1);
    footer->addWidget(m_cancel);
    footer->addWidget(m_updateSelected);
    root->addLayout(footer);

    connect(m_skipAll, &QPushButton::clicked, m_viewModel, &ProblemResolutionViewModel::skipAll);
    connect(m_cancel, &QPushButton::clicked, m_viewModel, &ProblemResolutionViewModel::finishAll);
    connect(m_updateSelected, &QPushButton::clicked, m_viewModel,
            &ProblemResolutionViewModel::finishWithYears);
}

void ProblemResolutionView::retranslate() {
    setWindowTitle(localizedText("Probleme auflösen", "Resolve Problems"));
    m_title->setText(localizedText("Probleme auflösen", "Resolve Problems"));
    m_skipAll->setText(localizedText("Alle überspringen", "Skip all"));
    m_cancel->setText(localizedText("Abbrechen", "Cancel"));
    m_updateSelected->setText(localizedText("Ausgewählte aktualisieren", "Update Selected"));
    m_model->retranslate();
    refreshCounts();
}

void ProblemResolutionView::refreshCounts() {
    const QList<MusicFile> files = m_viewModel->files();
    m_model->setFiles(files);
    m_subtitle->setText(QString::number(files.size()) +
                        localizedText(" Dateien, bei denen das Jahr nicht ermittelt werden konnte.",
                                      " files where the year could not be determined."));
    const int resolved = m_viewModel->resolvedCount();
    m_resolved->setText(QStringLiteral("✓ ") + QString::number(resolved) +
                        localizedText(" aufgelöst", " resolved"));
    m_pending->setText(QStringLiteral("? ") + QString::number(m_viewModel->pendingCount()) +
                       localizedText(" ausstehend", " pending"));
    m_updateSelected->setEnabled(resolved >= 1);
}

void ProblemResolutionView::reject() {
    m_viewModel->finishAll();
}

void ProblemResolutionView::openYearEditor(const MusicFile& file) {
    if (!m_opener) {
        return;
    }
    QPointer<ProblemResolutionView> self(this);
    m_opener(this, file, [self, file](std::optional<int> year) {
        if (self) {
            self->m_viewModel->saveManualYear(year, file);
        }
    });
}

void ProblemResolutionView::showContextMenu(const QPoint& position) {
    const QModelIndex clicked = m_table->indexAt(position);
    std::optional<MusicFile> target;
    if (clicked.isValid()) {
        const QModelIndexList selected = m_table->selectionModel()->selectedRows();
        const bool inSelection = m_table->selectionModel()->isRowSelected(clicked.row(), {});
        const int row = inSelection && !selected.isEmpty() ? selected.first().row() : clicked.row();
        if (const MusicFile* file = m_model->fileAt(row)) {
            target = *file;
        }
    }
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (target) {
        menu->addAction(localizedText("Jahr manuell eingeben…", "Enter year manually…"), this,
                        [this, file = *target] { m_viewModel->editYear(file); });
    }
    menu->addAction(localizedText("Alle überspringen", "Skip all"), m_viewModel,
                    &ProblemResolutionViewModel::skipAll);
    menu->popup(m_table->viewport()->mapToGlobal(position));
}
