// Small studies on disk for the window tests: rendered tooth photographs in sub-folders, named as a
// camera names them (P + tooth number + three-digit time point).
#pragma once

#include "ToothScene.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>

// Writes Folder/Sub/P<id><time>.bmp, the scene of tooth id photographed through pars.
inline QString WritePhotograph(const QString& Folder, const QString& Sub, int id, int time, int width = 160,
                               int height = 120, const TTransPars& pars = TTransPars::Identity(),
                               double brightness = 1)
{
    QDir(Folder).mkpath(Sub);
    const TIntImage im = TToothScene(width, height, uint32_t(id)).Render(pars, brightness);
    QImage bitmap;
    im.GetBitmap(bitmap);
    const QString name = QDir(Folder).filePath(QString("%1/P%2%3.bmp").arg(Sub).arg(id).arg(time, 3, 10, QChar('0')));
    bitmap.save(name, "BMP");
    return name;
}

// Every tooth of Teeth at every time point of Times, one sub-folder per time point.
inline void WriteStudy(const QString& Folder, std::initializer_list<int> Teeth, std::initializer_list<int> Times,
                       int width = 160, int height = 120)
{
    for (int t : Times)
        for (int id : Teeth)
            WritePhotograph(Folder, QString("visit%1").arg(t), id, t, width, height);
}
