#pragma once

#include <QImage>

#include <string>

// Decodes a JPEG picture with libjpeg. Throws Exception with a readable
// message for data that is not a JPEG picture or is damaged.
QImage DecodeJpeg(const std::string& bytes);
