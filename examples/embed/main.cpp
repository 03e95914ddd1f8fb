// A program that embeds the control: it lists the automation interface, then tries to log in.
#include <cstdio>

#include "control/KdxCtrl.h"

int main() {
  kdx::CORV_Velmar_KDXCtrl ctrl;
  for (const kdx::DispatchMember& member : kdx::KdxMethodTable())
    std::printf("%d %s\n", static_cast<int>(member.id), kdx::CString(member.name).ToUtf8().c_str());

  std::printf("GetConnectStatus %ld\n", ctrl.GetConnectStatus());
  // Nothing here registers a trade-API component, so the log-in cannot start and answers -1.
  // A real host registers one (or has it in the class registry) and pumps its MessageLoop
  // until LoginReady or LoginFail arrives.
  std::printf("Login %ld\n", ctrl.Login(u"/nonexistent/kdx.ini", u"Demo"));
  std::printf("GetConnectStatus %ld\n", ctrl.GetConnectStatus());
  return 0;
}
