#include "ui/wizard_state.h"

#include <QFileInfo>

namespace salvora::ui {

QString WizardState::AnalysisSource() const {
  if (!source_path.isEmpty() && QFileInfo::exists(source_path)) return source_path;
  return search_selection;
}

}  // namespace salvora::ui
