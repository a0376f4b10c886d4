# The LibreOffice backend of the spreadsheet interface: Calc driven through UNO.
include(UnoHeaders)

velt_uno_headers(velt_uno
  TYPES
    com.sun.star.awt.XWindow2
    com.sun.star.beans.NamedValue
    com.sun.star.beans.PropertyState
    com.sun.star.beans.PropertyValue
    com.sun.star.beans.XPropertyState
    com.sun.star.beans.XPropertySet
    com.sun.star.bridge.BridgeFactory
    com.sun.star.bridge.XBridge
    com.sun.star.connection.Connector
    com.sun.star.configuration.theDefaultProvider
    com.sun.star.connection.NoConnectException
    com.sun.star.container.NoSuchElementException
    com.sun.star.container.XEnumeration
    com.sun.star.container.XEnumerationAccess
    com.sun.star.container.XIndexAccess
    com.sun.star.container.XNameAccess
    com.sun.star.container.XNamed
    com.sun.star.document.MacroExecMode
    com.sun.star.document.UpdateDocMode
    com.sun.star.document.XActionLockable
    com.sun.star.document.XDocumentEventBroadcaster
    com.sun.star.document.XDocumentEventListener
    com.sun.star.frame.Desktop
    com.sun.star.frame.DispatchHelper
    com.sun.star.frame.XComponentLoader
    com.sun.star.frame.XController
    com.sun.star.frame.XDesktop2
    com.sun.star.frame.XDispatchHelper
    com.sun.star.frame.XDispatchProvider
    com.sun.star.frame.XDispatchProviderInterception
    com.sun.star.frame.XDispatchProviderInterceptor
    com.sun.star.frame.XInterceptorInfo
    com.sun.star.frame.XDispatch
    com.sun.star.frame.XStatusListener
    com.sun.star.frame.FeatureStateEvent
    com.sun.star.frame.DispatchDescriptor
    com.sun.star.util.URL
    com.sun.star.frame.XFrame
    com.sun.star.frame.XModel
    com.sun.star.frame.XStorable
    com.sun.star.io.IOException
    com.sun.star.lang.IllegalArgumentException
    com.sun.star.lang.IndexOutOfBoundsException
    com.sun.star.lang.XServiceInfo
    com.sun.star.sheet.XCalculatable
    com.sun.star.sheet.XCellRangeAddressable
    com.sun.star.sheet.XCellRangeData
    com.sun.star.sheet.XCellRangeFormula
    com.sun.star.sheet.XCellRangesQuery
    com.sun.star.sheet.XSheetCellRanges
    com.sun.star.sheet.CellFlags
    com.sun.star.sheet.XSheetAnnotationsSupplier
    com.sun.star.sheet.XSheetAnnotations
    com.sun.star.sheet.XSheetAnnotationAnchor
    com.sun.star.sheet.XSheetAnnotation
    com.sun.star.sheet.XSpreadsheet
    com.sun.star.sheet.XUniqueCellFormatRangesSupplier
    com.sun.star.sheet.XSpreadsheetDocument
    com.sun.star.sheet.XSpreadsheetView
    com.sun.star.sheet.XSpreadsheets
    com.sun.star.table.CellContentType
    com.sun.star.table.XCell
    com.sun.star.table.XCellRange
    com.sun.star.table.XColumnRowRange
    com.sun.star.table.XTableColumns
    com.sun.star.text.XText
    com.sun.star.util.CellProtection
    com.sun.star.util.CloseVetoException
    com.sun.star.util.NumberFormat
    com.sun.star.util.XCloseable
    com.sun.star.util.XModifiable
    com.sun.star.util.XNumberFormatsSupplier
    com.sun.star.util.XNumberFormats
    com.sun.star.util.XProtectable
    com.sun.star.lang.Locale)

add_library(velt_libreoffice STATIC
  LibreOfficeProcess.cpp
  LibreOfficeSession.cpp
  LibreOfficeBatch.cpp
  LibreOfficeSpreadsheet.cpp
  LibreOfficeWritePlan.cpp)
target_include_directories(velt_libreoffice PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(velt_libreoffice PUBLIC velt_spreadsheet PRIVATE velt_options velt_uno)
# A static library's PRIVATE link options do not reach the executable; the run path must.
target_link_options(velt_libreoffice INTERFACE "LINKER:-rpath,${VELT_LO_PROGRAM_DIR}")
find_package(Threads REQUIRED)
target_link_libraries(velt_libreoffice PUBLIC Threads::Threads)

velt_add_test(libreoffice_writeplan_test SOURCES LibreOfficeWritePlan_test.cpp
              LIBS velt_libreoffice)
velt_add_test(libreoffice_process_test SOURCES LibreOfficeProcess_test.cpp
              LIBS velt_libreoffice TIMEOUT 120)
velt_add_test(libreoffice_spreadsheet_test SOURCES LibreOfficeSpreadsheet_test.cpp
              LIBS velt_libreoffice velt_uno LABELS soffice TIMEOUT 600)
