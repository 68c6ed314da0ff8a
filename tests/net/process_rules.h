#pragma once

#include "proxy_rules.h"

// The proxy rules every client of the process follows, for one test; none afterwards.
class ProcessRules {
public:
    explicit ProcessRules(const ProxyRules &rules) { SetProcessProxyRules(rules); }
    ~ProcessRules() { SetProcessProxyRules(ProxyRules::Fixed({}, {})); }
    ProcessRules(const ProcessRules &) = delete;
    ProcessRules &operator=(const ProcessRules &) = delete;
};
