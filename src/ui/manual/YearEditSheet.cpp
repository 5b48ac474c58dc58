#include "ui/manual/YearEditSheet.h"

#include "model/AppLanguage.h"
#include "model/AppSettings.h"
#include "ui/Look.h"
#include "ui/auto/ProblemResolutionView.h"
#include "ui/manual/StatusBadgeViewModel.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString kDash = QStringLiteral("\u2013");

using Look::plainLabel;

QLabel* heading(QWidget* parent) {
    auto* label = plainLabel(parent);
    label->setFont(Look::caption(label->font()));
    Look::setTextColor(label, label->palette().color(QPalette::PlaceholderText));
    return label;
}

// A column headed by a caption that belongs to `parent`: laid out on `owner`
// without margins when there is one, else a layout to nest.
QVBoxLayout* headedColumn(QWidget* parent, QWidget* owner, int spacing, QLabel** head) {
    auto* layout = new QVBoxLayout(owner);
    if (owner != nullptr) {
        layout->setContentsMargins(0, 0, 0, 0);
    }
    layout->setSpacing(spacing);
    *head = heading(parent);
    layout->addWidget(*head);
    return layout;
}

// A label that elides its text to the width it gets (a title may be any
// length); the whole text is in its tooltip while it is cut.
class ElidingLabel : public QLabel {
public:
    ElidingLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
        : QLabel(parent), m_full(text), m_mode(mode) {
        setTextFormat(Qt::PlainText);
        setMinimumWidth(40);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        const QString shown = fontMetrics().elidedText(m_full, m_mode, width());
        setText(shown);
        setToolTip(shown == m_full ? QString() : Look::plainToolTip(m_full));
    }

private:
    QString m_full;
    Qt::TextElideMode m_mode;
};

} // namespace

YearEditSheet::YearEditSheet(const MusicFile& file, SaveHandler onSave, QWidget* parent)
    : QDialog(parent), m_model(file), m_onSave(std::move(onSave)) {
    setWindowModality(Qt::WindowModal);
    setFixedWidth(440);
    build();
    // The fields are filled on opening; that fill counts as a change of the text.
    m_model.prefill();
    m_yearField->setText(m_model.yearText());
    // Typing goes straight into the year, replacing what was filled in.
    m_yearField->setFocus();
    m_yearField->selectAll();
    refresh();
    connect(&m_model, &YearEditSheetViewModel::changed, this, &YearEditSheet::refresh);
    connect(&AppSettings::shared(), &AppSettings::languageChanged, this, &YearEditSheet::retranslate);
    // The preview follows the rules and the genre settings.
    connect(&AppSettings::shared(), &AppSettings::settingsChanged, this, &YearEditSheet::refresh);
}

void YearEditSheet::registerAsProblemSheetEditor() {
    ProblemResolutionView::setDefaultYearEditorOpener(
        [](QWidget* parent, const MusicFile& file, std::function<void(std::optional<int>)> onSave) {
            auto* sheet = new YearEditSheet(file, std::move(onSave), parent);
            sheet->setAttribute(Qt::WA_DeleteOnClose);
            sheet->open();
        });
}

void YearEditSheet::build() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addLayout(buildHeader());
    root->addWidget(Look::divider(this, Qt::Horizontal));

    // Middle part, scrolling
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(scroll);
    auto* body = new QVBoxLayout(content);
    body->setContentsMargins(20, 20, 20, 20);
    body->setSpacing(20);
    body->addLayout(buildInfo(content));
    body->addWidget(Look::divider(content, Qt::Horizontal));
    body->addLayout(buildInput(content));
    body->addWidget(buildPreview(content));
    body->addStretch();
    scroll->setWidget(content);
    root->addWidget(scroll, 1);
    root->addWidget(Look::divider(this, Qt::Horizontal));
    root->addLayout(buildButtons());
    retranslate();
}

// The symbol, the title and the file's name.
QLayout* YearEditSheet::buildHeader() {
    const MusicFile& file = m_model.file();
    auto* header = new QHBoxLayout;
    header->setContentsMargins(20, 14, 20, 14);
    header->addWidget(Look::symbolLabel(this, QStringLiteral("calendar.badge.plus"), 28));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    m_title = plainLabel(this);
    m_title->setFont(Look::headline(font()));
    m_fileName = new ElidingLabel(QFileInfo(file.url).fileName(), Qt::ElideMiddle, this);
    m_fileName->setObjectName(QStringLiteral("fileName"));
    m_fileName->setFont(Look::caption(font()));
    titles->addWidget(m_title);
    titles->addWidget(m_fileName);
    header->addLayout(titles, 1);
    return header;
}

// The file's tags that are set, as a grid of label and value.
QLayout* YearEditSheet::buildInfo(QWidget* content) {
    const MusicFile& file = m_model.file();
    auto* info = headedColumn(content, nullptr, 8, &m_infoHeading);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(6);
    const struct {
        bool shown;
        QString value;
    } rows[] = {{!file.title.isEmpty(), file.title},
                {!file.artist.isEmpty(), file.artist},
                {!file.album.isEmpty(), file.album},
                {true, file.genre.isEmpty() ? kDash : Look::shownGenre(file.genre)},
                {file.year.has_value(), file.year ? QString::number(*file.year) : QString()}};
    for (int i = 0; i < 5; ++i) {
        auto* label = plainLabel(content);
        Look::setTextColor(label, label->palette().color(QPalette::PlaceholderText));
        auto* value = new ElidingLabel(rows[i].value, Qt::ElideRight, content);
        value->setObjectName(QStringLiteral("info%1").arg(i));
        label->setFont(Look::callout(font()));
        value->setFont(i == 4 ? Look::monospace() : Look::callout(font()));
        if (rows[0].shown) {
            // A shown Title row aligns the whole label column to the right.
            label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
        label->setVisible(rows[i].shown);
        value->setVisible(rows[i].shown);
        grid->addWidget(label, i, 0);
        grid->addWidget(value, i, 1);
        m_infoLabels.append(label);
    }
    grid->setColumnStretch(1, 1);
    info->addLayout(grid);
    return info;
}

// The choice between a typed year and a picked decade, and the input of each.
QLayout* YearEditSheet::buildInput(QWidget* content) {
    auto* input = headedColumn(content, nullptr, 14, &m_inputHeading);
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    m_modes = new QButtonGroup(this);
    for (const auto mode :
         {YearEditSheetViewModel::InputMode::year, YearEditSheetViewModel::InputMode::decade}) {
        auto* segment = new QPushButton(content);
        segment->setCheckable(true);
        segment->setAutoDefault(false);
        segment->setChecked(mode == m_model.inputMode());
        m_modes->addButton(segment, int(mode));
        segments->addWidget(segment);
    }
    segments->addStretch();
    connect(m_modes, &QButtonGroup::idClicked, this,
            [this](int id) { m_model.setInputMode(YearEditSheetViewModel::InputMode(id)); });
    input->addLayout(segments);
    input->addWidget(buildYearBlock(content));
    input->addWidget(buildDecadeBlock(content));
    return input;
}

// The year field, the decade it gives and what is wrong with the text.
QWidget* YearEditSheet::buildYearBlock(QWidget* content) {
    m_yearBlock = new QWidget(content);
    auto* yearLayout = headedColumn(m_yearBlock, m_yearBlock, 6, &m_yearHint);
    auto* fieldRow = new QHBoxLayout;
    m_yearField = new QLineEdit(m_yearBlock);
    m_yearField->setFixedWidth(100);
    connect(m_yearField, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_model.setYearText(text); });
    m_arrowLabel = plainLabel(m_yearBlock);
    Look::setTextColor(m_arrowLabel, Look::statusColor(QStringLiteral("blue"), palette()));
    fieldRow->addWidget(m_yearField);
    fieldRow->addWidget(m_arrowLabel);
    fieldRow->addStretch();
    yearLayout->addLayout(fieldRow);
    m_yearError = plainLabel(m_yearBlock);
    m_yearError->setObjectName(QStringLiteral("yearError"));
    m_yearError->setFont(Look::caption(font()));
    Look::setTextColor(m_yearError, Look::statusColor(QStringLiteral("red"), palette()));
    yearLayout->addWidget(m_yearError);
    return m_yearBlock;
}

// The decade picker, filled from the decade rules.
QWidget* YearEditSheet::buildDecadeBlock(QWidget* content) {
    m_decadeBlock = new QWidget(content);
    auto* decadeLayout = headedColumn(m_decadeBlock, m_decadeBlock, 6, &m_decadeHint);
    auto* pickerRow = new QHBoxLayout;
    m_decadeTitle = plainLabel(m_decadeBlock);
    m_decadePicker = new QComboBox(m_decadeBlock);
    m_decadePicker->setFixedWidth(160);
    m_decadePicker->addItem(QString(), QString());
    for (const QString& label : m_model.decadeLabels()) {
        m_decadePicker->addItem(label, label);
    }
    connect(m_decadePicker, &QComboBox::activated, this,
            [this](int index) { m_model.setSelectedDecade(m_decadePicker->itemData(index).toString()); });
    pickerRow->addWidget(m_decadeTitle);
    pickerRow->addWidget(m_decadePicker);
    pickerRow->addStretch();
    decadeLayout->addLayout(pickerRow);
    return m_decadeBlock;
}

// The genre now and the genre Save would write.
QWidget* YearEditSheet::buildPreview(QWidget* content) {
    const MusicFile& file = m_model.file();
    m_preview = new QWidget(content);
    auto* previewLayout = headedColumn(m_preview, m_preview, 8, &m_previewHeading);
    auto* box = new QFrame(m_preview);
    box->setObjectName(QStringLiteral("previewBox"));
    QColor tint = Look::statusColor(QStringLiteral("blue"), palette());
    tint.setAlphaF(0.08);
    box->setStyleSheet(QStringLiteral("#previewBox { background: %1; border-radius: 8px; }")
                           .arg(tint.name(QColor::HexArgb)));
    auto* boxLayout = new QHBoxLayout(box);
    boxLayout->setContentsMargins(10, 10, 10, 10);
    boxLayout->setSpacing(8);
    auto* current = headedColumn(box, nullptr, 2, &m_currentCaption);
    auto* currentGenre =
        new ElidingLabel(file.genre.isEmpty() ? kDash : Look::shownGenre(file.genre), Qt::ElideRight, box);
    currentGenre->setFont(Look::callout(font()));
    current->addWidget(currentGenre);
    boxLayout->addLayout(current, 1);
    boxLayout->addWidget(Look::symbolLabel(box, QStringLiteral("arrow.right"), 14));
    auto* fresh = headedColumn(box, nullptr, 2, &m_newCaption);
    m_newGenre = plainLabel(box);
    m_newGenre->setObjectName(QStringLiteral("newGenre"));
    m_newGenre->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_newGenre->setMinimumWidth(40);
    m_newGenre->setFont(Look::callout(font()));
    Look::setTextColor(m_newGenre, Look::statusColor(QStringLiteral("blue"), palette()));
    m_skipNote = plainLabel(box);
    m_skipNote->setObjectName(QStringLiteral("skipNote"));
    m_skipNote->setWordWrap(true);
    Look::setTextColor(m_skipNote, Look::statusColor(QStringLiteral("orange"), palette()));
    fresh->addWidget(m_newGenre);
    fresh->addWidget(m_skipNote);
    boxLayout->addLayout(fresh, 1);
    previewLayout->addWidget(box);
    return m_preview;
}

// Skip, Cancel and Save; only Save takes Return.
QLayout* YearEditSheet::buildButtons() {
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(20, 14, 20, 14);
    m_skip = new QPushButton(this);
    m_cancel = new QPushButton(this);
    m_save = new QPushButton(this);
    m_skip->setObjectName(QStringLiteral("skipButton"));
    m_save->setObjectName(QStringLiteral("saveButton"));
    m_skip->setAutoDefault(false);
    m_cancel->setAutoDefault(false);
    m_save->setDefault(true);
    buttons->addWidget(m_skip);
    buttons->addStretch();
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_save);
    connect(m_skip, &QPushButton::clicked, this, &YearEditSheet::skip);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, &YearEditSheet::save);
    return buttons;
}

void YearEditSheet::retranslate() {
    m_title->setText(
        localizedText(QStringLiteral("Jahr manuell eingeben"), QStringLiteral("Enter Year Manually")));
    m_infoHeading->setText(
        localizedText(QStringLiteral("Datei-Info"), QStringLiteral("File Info")).toUpper());
    const QString labels[] = {localizedText(QStringLiteral("Titel:"), QStringLiteral("Title:")),
                              localizedText(QStringLiteral("Interpret:"), QStringLiteral("Artist:")),
                              QStringLiteral("Album:"), QStringLiteral("Genre:"),
                              localizedText(QStringLiteral("Jahr (Tag):"), QStringLiteral("Year (Tag):"))};
    for (int i = 0; i < m_infoLabels.size(); ++i) {
        m_infoLabels[i]->setText(labels[i]);
    }
    m_inputHeading->setText(
        localizedText(QStringLiteral("Jahrzehnt-Quelle"), QStringLiteral("Decade Source")).toUpper());
    m_modes->button(int(YearEditSheetViewModel::InputMode::year))
        ->setText(YearEditSheetViewModel::displayName(YearEditSheetViewModel::InputMode::year));
    m_modes->button(int(YearEditSheetViewModel::InputMode::decade))
        ->setText(YearEditSheetViewModel::displayName(YearEditSheetViewModel::InputMode::decade));
    m_yearHint->setText(localizedText(QStringLiteral("Erscheinungsjahr (z.B. 1987)"),
                                      QStringLiteral("Release year (e.g. 1987)")));
    m_yearField->setPlaceholderText(localizedText(QStringLiteral("Jahr"), QStringLiteral("Year")));
    m_decadeHint->setText(
        localizedText(QStringLiteral("Jahrzehnt direkt wählen"), QStringLiteral("Choose decade directly")));
    m_decadeTitle->setText(localizedText(QStringLiteral("Jahrzehnt"), QStringLiteral("Decade")));
    m_decadePicker->setItemText(
        0, localizedText(QStringLiteral("Bitte wählen"), QStringLiteral("Please choose")));
    m_previewHeading->setText(localizedText(QStringLiteral("Vorschau"), QStringLiteral("Preview")).toUpper());
    m_currentCaption->setText(localizedText(QStringLiteral("Aktuell:"), QStringLiteral("Current:")));
    m_newCaption->setText(localizedText(QStringLiteral("Neu:"), QStringLiteral("New:")));
    m_skip->setText(localizedText(QStringLiteral("Überspringen"), QStringLiteral("Skip")));
    m_cancel->setText(localizedText(QStringLiteral("Abbrechen"), QStringLiteral("Cancel")));
    m_save->setText(localizedText(QStringLiteral("Speichern"), QStringLiteral("Save")));
    // A message already shown follows the language too.
    if (m_model.yearError()) {
        m_model.validateYear(m_model.yearText());
    }
    refresh(); // the preview's note
}

void YearEditSheet::refresh() {
    const bool yearMode = m_model.inputMode() == YearEditSheetViewModel::InputMode::year;
    m_yearBlock->setVisible(yearMode);
    m_decadeBlock->setVisible(!yearMode);
    m_modes->button(int(m_model.inputMode()))->setChecked(true);
    const std::optional<QString> preview = m_model.previewLabel();
    m_arrowLabel->setText(preview ? QStringLiteral("\u2192 ") + *preview : QString());
    m_arrowLabel->setVisible(preview.has_value());
    m_yearError->setText(m_model.yearError().value_or(QString()));
    m_yearError->setVisible(m_model.yearError().has_value());
    const int index = m_decadePicker->findData(m_model.selectedDecade());
    m_decadePicker->setCurrentIndex(index);
    // The preview shows what the write will do, also when it leaves the file alone.
    const std::optional<TagUpdateService::GenrePlan> plan = m_model.genrePreview();
    m_preview->setVisible(preview.has_value() && plan.has_value());
    if (plan) {
        const QString kept = m_model.file().genre.isEmpty() ? kDash : Look::shownGenre(m_model.file().genre);
        m_newGenre->setText(plan->genre ? Look::shownGenre(*plan->genre) : kept);
        m_skipNote->setVisible(!plan->genre.has_value());
        m_skipNote->setText(
            plan->genre
                ? QString()
                : statusDetail(ProcessingStatus::alreadyHasDecade(plan->label.value_or(QString())), {}));
        m_newGenre->setToolTip(Look::plainToolTip(m_newGenre->text()));
    }
    m_save->setEnabled(m_model.isValid());
    QTimer::singleShot(0, this, &YearEditSheet::fitHeight);
}

void YearEditSheet::fitHeight() {
    // Grows (never shrinks) when the preview or a message appears, so they are
    // not hidden below the fold while the screen has room for them.
    auto* scroll = findChild<QScrollArea*>();
    if (!isVisible() || scroll == nullptr || scroll->widget() == nullptr) {
        return;
    }
    const int missing = scroll->widget()->sizeHint().height() - scroll->viewport()->height();
    const int roomy = screen() ? screen()->availableGeometry().height() * 9 / 10 : height() + missing;
    if (missing > 0 && height() < roomy) {
        resize(width(), std::min(height() + missing, roomy));
    }
}

void YearEditSheet::save() {
    const std::optional<int> year = m_model.yearToSave();
    if (!year) {
        return;
    }
    if (m_onSave) {
        m_onSave(year);
    }
    accept();
}

void YearEditSheet::skip() {
    if (m_onSave) {
        m_onSave(std::nullopt);
    }
    accept();
}
