// The two species pictures of the main window, painted here at 64 x 64: index 0 a cat, 1 a dog.
#pragma once

#include <QImage>

QImage AnimalPicture(bool Dog);
