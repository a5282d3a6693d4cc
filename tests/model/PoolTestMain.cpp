#include <QCoreApplication>

#include <gtest/gtest.h>

// The pool delivers the end of an asynchronous run through the Qt event loop of its thread.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
