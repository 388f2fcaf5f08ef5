// Texts of the return codes.

#include "wirecomm.h"

#include "export.h"

WC_EXPORT const char* cm_rc2str(int32_t rc)
{
    switch (rc) {
    case CM_OK:
        return "CM_OK";
    case CM_ALLOCATE_FAILURE_NO_RETRY:
        return "CM_ALLOCATE_FAILURE_NO_RETRY";
    case CM_ALLOCATE_FAILURE_RETRY:
        return "CM_ALLOCATE_FAILURE_RETRY";
    case CM_CONVERSATION_TYPE_MISMATCH:
        return "CM_CONVERSATION_TYPE_MISMATCH";
    case CM_SECURITY_NOT_VALID:
        return "CM_SECURITY_NOT_VALID";
    case CM_TPN_NOT_RECOGNIZED:
        return "CM_TPN_NOT_RECOGNIZED";
    case CM_TP_NOT_AVAILABLE_NO_RETRY:
        return "CM_TP_NOT_AVAILABLE_NO_RETRY";
    case CM_TP_NOT_AVAILABLE_RETRY:
        return "CM_TP_NOT_AVAILABLE_RETRY";
    case CM_DEALLOCATED_ABEND:
        return "CM_DEALLOCATED_ABEND";
    case CM_DEALLOCATED_NORMAL:
        return "CM_DEALLOCATED_NORMAL";
    case CM_PARAMETER_ERROR:
        return "CM_PARAMETER_ERROR";
    case CM_PRODUCT_SPECIFIC_ERROR:
        return "CM_PRODUCT_SPECIFIC_ERROR";
    case CM_PROGRAM_PARAMETER_CHECK:
        return "CM_PROGRAM_PARAMETER_CHECK";
    case CM_PROGRAM_STATE_CHECK:
        return "CM_PROGRAM_STATE_CHECK";
    case CM_RESOURCE_FAILURE_NO_RETRY:
        return "CM_RESOURCE_FAILURE_NO_RETRY";
    case CM_RESOURCE_FAILURE_RETRY:
        return "CM_RESOURCE_FAILURE_RETRY";
    case CM_OPERATION_INCOMPLETE:
        return "CM_OPERATION_INCOMPLETE";
    case CM_SECURITY_NOT_SUPPORTED:
        return "CM_SECURITY_NOT_SUPPORTED";
    case CM_SECURITY_MUTUAL_FAILED:
        return "CM_SECURITY_MUTUAL_FAILED";
    default:
        return "CM_UNKNOWN_RETURN_CODE";
    }
}
