// The exception that carries a failure from deep inside a request to the method or completion that
// reports it, with one of the session's error codes.
#pragma once

#include <string>
#include <utility>

#include "contracts/SessionErrors.h"

class CDeviceError {
public:
    CDeviceError(long code, std::string text) : m_code(code), m_text(std::move(text)) {}
    long Code() const { return m_code; }
    const std::string& Text() const { return m_text; }

private:
    long m_code;
    std::string m_text;
};
