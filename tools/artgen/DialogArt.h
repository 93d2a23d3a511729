#pragma once
#include <QString>

namespace hakop::art {
void drawDialogPictures(const QString& outDir);
}
