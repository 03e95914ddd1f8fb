// The module's "TYPELIB" resource 1: ORV_Velmar_KDX.idl beside this file, verbatim. A test
// keeps the two identical; edit the .idl and paste it here.
#include "resources/type_library.h"

namespace kdx {

std::u16string_view LoadTypeLibResource() {
  static constexpr std::u16string_view kText = uR"idl(// Type library of the control. tests/control checks it against the control's dispatch and event tables.

#include <olectl.h>
#include <idispids.h>

[ uuid(2D0F66C4-5920-46A0-AA11-9AFCB3DDC90B), version(1.0), lcid(0x409),
  helpfile("ORV_Velmar_KDX.hlp"),
  helpstring("ORV_Velmar_KDX ActiveX Control module"),
  control ]
library ORV_VELMAR_KDXLib
{
	importlib(STDOLE_TLB);

	//  Primary dispatch interface for CORV_Velmar_KDXCtrl

	[ uuid(C3187AB4-3361-4CDF-9B97-2DD3F9C1D639),
	  helpstring("Dispatch interface for ORV_Velmar_KDX Control"), hidden ]
	dispinterface _DORV_Velmar_KDX
	{
		properties:
		methods:
			[id(1)] long Login(BSTR strProfilePath, BSTR strSession);
			[id(2)] void Logout();
			[id(3)] long GetConnectStatus();
			[id(4)] long ProcessOrder();
			[id(5)] long GetOrderCount();
			[id(6)] BSTR GetOrderString(long nIndex, long nField);
			[id(7)] double GetOrderValue(long nIndex, long nField);
			[id(8)] long GetFillOrderCount();
			[id(9)] BSTR GetFillOrderString(long nIndex, long nField);
			[id(10)] double GetFillOrderValue(long nIndex, long nField);
			[id(11)] long QueryStatement(long nInfoType);
			[id(12)] long GetStatementCount(long nInfoType);
			[id(13)] BSTR GetStatementString(long nInfoType, long nIndex, long nField);
			[id(14)] double GetStatementValue(long nInfoType, long nIndex, long nField);
			[id(15)] void ClearOrder();
			[id(16)] void SetOrderInfoString(long nField, BSTR strData);
			[id(17)] void SetOrderInfoValue(long nField, double dbData);
			[id(18)] void SetSecurities(long nSecurityType, BSTR strSecurityName, long nSecurityValue);
			[id(19)] long GeneralQuery(BSTR strQueryName, BSTR strParam);
			[id(20)] long GetQueryCount(BSTR strQueryName);
			[id(21)] BSTR GetQueryString(BSTR strQueryName, long nIndex, long nFieldIndex);
			[id(22)] double GetQueryValue(BSTR strQueryName, long nIndex, long nFieldIndex);
			[id(DISPID_ABOUTBOX)] void AboutBox();
	};

	//  Event dispatch interface for CORV_Velmar_KDXCtrl

	[ uuid(20FF8F24-B279-4B76-ABFE-6525028E1A83),
	  helpstring("Event interface for ORV_Velmar_KDX Control") ]
	dispinterface _DORV_Velmar_KDXEvents
	{
		properties:
			//  Event interface has no properties

		methods:
			[id(1)] void LoginReady();
			[id(2)] void LoginFail(BSTR strErrorMsg);
			[id(3)] void ConnectionLost();
			[id(4)] void OrderStatus(long nIndex);
			[id(5)] void FillOrder(long nIndex);
			[id(6)] void StatementUpdate(long nInfoType);
			[id(7)] void Log(long nLogType, BSTR strLog);
			[id(8)] void QueryUpdate(BSTR strQueryName);
	};

	//  Class information for CORV_Velmar_KDXCtrl

	[ uuid(4B9E9F5A-36DF-4463-9F46-A5249E61FC7B),
	  helpstring("ORV_Velmar_KDX Control"), control ]
	coclass ORV_Velmar_KDX
	{
		[default] dispinterface _DORV_Velmar_KDX;
		[default, source] dispinterface _DORV_Velmar_KDXEvents;
	};
};
)idl";
  return kText;
}

}  // namespace kdx
