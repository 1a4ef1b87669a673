// The route groups of the service, one file each.
#pragma once

#include <httplib.h>

#include <string>

#include "devservice/service_context.h"

namespace devservice {

void RegisterAccountRoutes(httplib::Server& server, ServiceContext& ctx);  // sign-in
void RegisterWechatRoutes(httplib::Server& server, ServiceContext& ctx);   // QR sign-in
void RegisterStaticRoutes(httplib::Server& server, ServiceContext& ctx);   // /files/...
void RegisterControlRoutes(httplib::Server& server, ServiceContext& ctx);  // /test/...
void RegisterBackupRoutes(httplib::Server& server, ServiceContext& ctx);   // backups, enterprises
// Portal documents, IP answer, web application and agency sign-in page.
void RegisterPortalRoutes(httplib::Server& server, ServiceContext& ctx);
void RegisterUpdateRoutes(httplib::Server& server, ServiceContext& ctx);   // lists, catalogue

// Marks a QR scene scanned, bound to `mobile` (empty: the role's demo account) or
// not bound. False for an unknown scene.
bool ScanScene(ServiceContext& ctx, const std::string& scene, bool bound, std::string mobile);

// Seeds the demo accounts into a fresh state.
void SeedDemoAccounts(ServiceState& state);
// Seeds the company names of the demo data's tax numbers.
void SeedDemoEnterprises(ServiceState& state);

}  // namespace devservice
