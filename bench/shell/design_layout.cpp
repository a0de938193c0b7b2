#include "design_layout.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QWidget>
#include <QWidgetItem>
#include <algorithm>
#include <cmath>

namespace qx4bench {

DesignLayout::DesignLayout(QWidget* parent)
    : QLayout(parent), drawn_(parent->size()), design_(parent->size()) {
    setContentsMargins(0, 0, 0, 0);
    for (QWidget* child : parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!child->isWindow()) entries_.push_back({new QWidgetItem(child), child->geometry(), {}});
    FitTexts();
    AdoptIntoGroupBoxes();
}

namespace {

// What a button's or label's text needs, without a style's minimum button width.
int TextWidthOf(QWidget* w) {
    QString text;
    int around = 2;
    if (auto* label = qobject_cast<QLabel*>(w)) {
        text = label->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        text = button->text().remove('&');
        QStyle* style = w->style();
        around = qobject_cast<QPushButton*>(w)
                     ? 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w) + 8
                     : style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
                           style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w) + 6;
    }
    return text.isEmpty() ? 0 : w->fontMetrics().horizontalAdvance(text) + around;
}

} // namespace

// A text longer than its control was drawn for (another language, another font) widens
// the control; what stands right of it on its row moves along, a group box around it
// grows with it, and the designed size takes the new width.
void DesignLayout::FitTexts() {
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& a, const Entry& b) { return a.design.left() < b.design.left(); });
    for (Entry& entry : entries_) {
        QWidget* w = entry.item->widget();
        if (!w || w->isHidden() || !(qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w)))
            continue;
        const int overflow = TextWidthOf(w) - entry.design.width();
        if (overflow <= 0) continue;
        const QRect before = entry.design;
        entry.design.setWidth(before.width() + overflow);
        for (Entry& other : entries_) {
            if (&other == &entry) continue;
            QRect& r = other.design;
            const bool sameRow = r.top() < before.bottom() && r.bottom() > before.top();
            if (sameRow && r.left() >= before.right() - 8 && !r.contains(before)) {
                r.translate(overflow, 0);
            } else if (qobject_cast<QGroupBox*>(other.item->widget()) && r.contains(before)) {
                r.setWidth(r.width() + overflow);
            }
        }
    }
    for (const Entry& entry : entries_)
        if (!entry.item->widget() || !entry.item->widget()->isHidden())
            design_.setWidth(std::max(design_.width(), entry.design.right() + 6));
}

// Buttons drawn inside a group box become its children, so that the box is their group
// for screen readers and keyboard focus; they keep their (fitted) places in it.
void DesignLayout::AdoptIntoGroupBoxes() {
    std::vector<std::pair<QGroupBox*, QRect>> groups;
    for (const Entry& entry : entries_)
        if (auto* group = qobject_cast<QGroupBox*>(entry.item->widget()))
            groups.emplace_back(group, entry.design);
    for (const auto& [group, frame] : groups) {
        for (auto it = entries_.begin(); it != entries_.end();) {
            QWidget* w = it->item->widget();
            if (!qobject_cast<QAbstractButton*>(w) || qobject_cast<QPushButton*>(w) ||
                !frame.contains(it->design)) {
                ++it;
                continue;
            }
            const bool hidden = w->isHidden();
            const QRect place = it->design.translated(-frame.topLeft());
            delete it->item; // out of this layout before the widget leaves its parent
            it = entries_.erase(it);
            w->setParent(group);
            w->setGeometry(place);
            w->setHidden(hidden);
        }
    }
}

DesignLayout::~DesignLayout() {
    for (Entry& entry : entries_)
        delete entry.item;
}

void DesignLayout::SetAnchor(QWidget* widget, Anchor anchor) {
    for (Entry& entry : entries_)
        if (entry.item->widget() == widget) entry.anchor = anchor;
    invalidate();
}

void DesignLayout::AnchorAsDialog() {
    const double width = std::max(1, design_.width());
    const int bottomBand = design_.height() * 3 / 4;
    for (Entry& entry : entries_) {
        QWidget* w = entry.item->widget();
        const QRect& r = entry.design;
        const bool grows = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                           qobject_cast<QGroupBox*>(w) || qobject_cast<QListWidget*>(w) ||
                           (qobject_cast<QLabel*>(w) && r.width() > design_.width() / 2);
        Anchor anchor;
        if (grows) {
            anchor.moveX = r.left() / width;
            anchor.growX = r.width() / width;
        } else {
            anchor.moveX = (r.left() + r.width() / 2.0) / width; // its centre keeps its share
        }
        anchor.moveY = r.top() >= bottomBand ? 1.0 : 0.0;
        entry.anchor = anchor;
    }
    invalidate();
}

void DesignLayout::addItem(QLayoutItem* item) {
    entries_.push_back({item, item->geometry(), {}});
}

QLayoutItem* DesignLayout::itemAt(int index) const {
    return index >= 0 && index < count() ? entries_[size_t(index)].item : nullptr;
}

QLayoutItem* DesignLayout::takeAt(int index) {
    if (index < 0 || index >= count()) return nullptr;
    QLayoutItem* item = entries_[size_t(index)].item;
    entries_.erase(entries_.begin() + index);
    return item;
}

int DesignLayout::count() const {
    return static_cast<int>(entries_.size());
}

QSize DesignLayout::sizeHint() const {
    return design_;
}

QSize DesignLayout::minimumSize() const {
    return design_ - QSize(0, ShrinkRoom());
}

int DesignLayout::ShrinkRoom() const {
    if (keep_ >= 1.0) return 0;
    double room = design_.height();
    for (const Entry& entry : entries_)
        if (entry.anchor.growY > 0)
            room = std::min(room, entry.design.height() * (1.0 - keep_) / entry.anchor.growY);
    return int(room);
}

void DesignLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const double dx = std::max(0, rect.width() - design_.width());
    const double dy = std::max(-ShrinkRoom(), rect.height() - design_.height());
    const double grow = growIntoFitted_ ? std::max(0, rect.width() - drawn_.width()) : dx;
    for (const Entry& entry : entries_) {
        const QRect& r = entry.design;
        const Anchor& a = entry.anchor;
        entry.item->setGeometry(QRect(rect.left() + r.left() + int(std::lround(a.moveX * dx)),
                                      rect.top() + r.top() + int(std::lround(a.moveY * dy)),
                                      r.width() + int(std::lround(a.growX * grow)),
                                      r.height() + int(std::lround(a.growY * dy))));
    }
}

void NameUnlabelled(QWidget* root) {
    const auto labels = root->findChildren<QLabel*>();
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const bool unlabelled = qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                                qobject_cast<QListWidget*>(w);
        if (!unlabelled || !w->accessibleName().isEmpty()) continue;
        // The nearest label ending left of it on its row, or standing above it.
        const QRect r = w->geometry();
        QLabel* best = nullptr;
        int bestDistance = 1 << 30;
        for (QLabel* label : labels) {
            if (label->parentWidget() != w->parentWidget() || label->text().isEmpty()) continue;
            const QRect l = label->geometry();
            const bool left =
                l.right() <= r.left() + 4 && std::abs(l.center().y() - r.center().y()) < r.height();
            const bool above =
                l.bottom() <= r.top() + 4 && l.left() < r.right() && l.right() > r.left();
            if (!left && !above) continue;
            const int distance = std::abs(l.center().x() - r.center().x()) +
                                 std::abs(l.center().y() - r.center().y());
            if (distance < bestDistance) {
                bestDistance = distance;
                best = label;
            }
        }
        if (best) {
            best->setBuddy(w);
            w->setAccessibleName(best->text().remove('&'));
        }
    }
}

void PrepareDialogLayout(QWidget* dialog) {
    for (QComboBox* combo : dialog->findChildren<QComboBox*>())
        combo->setInsertPolicy(QComboBox::NoInsert); // typed text selects nothing, adds nothing
    auto* layout = new DesignLayout(dialog);
    layout->AnchorAsDialog();
    dialog->setMinimumSize(layout->minimumSize());
    NameUnlabelled(dialog);
}

} // namespace qx4bench
