#pragma once

#include <QString>

#include <functional>

class QBoxLayout;
class QWidget;

namespace tampod {

// The Glossary page. Its parts go straight into the article page's column: the intro, then one
// block per entry (term as heading, then definition), each the anchor of its term.
namespace GlossaryHelpView {

using Anchor = std::function<void(const QString &id, QWidget *view)>;
void addTo(QBoxLayout &column, QWidget *parent, const Anchor &anchor);

} // namespace GlossaryHelpView

} // namespace tampod
